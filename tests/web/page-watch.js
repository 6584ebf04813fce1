// Notes, in the page, everything the user sees change: the summary and status
// rows, the progress bar, the notice about the device, the page's state and
// every dialog that opens, each with the page's time. The test runner reads globalThis.kestraneWatch.log.
(function () {
  'use strict';
  const log = [];
  globalThis.kestraneWatch = { log };
  const note = (what, value) => log.push({ what, value, at: performance.now() });

  function watchText(element, what) {
    note(what, element.textContent);
    new MutationObserver((records) => {
      // Each replaced text, not only the last: a row set twice in one task
      // has shown both texts.
      for (const record of records) {
        if (record.type === 'characterData') {
          note(what, element.textContent);
        } else if (record.addedNodes.length > 0) {
          note(what, Array.from(record.addedNodes).map((n) => n.textContent).join(''));
        } else if (record.removedNodes.length > 0 && element.textContent === '') {
          note(what, '');
        }
      }
    }).observe(element, { childList: true, characterData: true, subtree: true });
  }

  function watchDialog(dialog, describe) {
    new MutationObserver(() => {
      if (dialog.open)
        note(dialog.id, describe());
      else
        note(dialog.id + '-closed', null);
    }).observe(dialog, { attributes: true, attributeFilter: ['open'] });
  }

  function start() {
    const $ = (selector) => document.querySelector(selector);
    for (const [selector, what] of [['#summary', 'summary'], ['#status', 'status'], ['#question', 'question']]) {
      if ($(selector))
        watchText($(selector), what);
    }
    const progress = $('#progress');
    if (progress) {
      // Each value the bar had, also those replaced within the same task (the
      // value after a change is the old value of the next one); an
      // indeterminate bar (no value) is noted as null.
      new MutationObserver((records) => {
        records.forEach((record, i) => {
          if (i + 1 < records.length) {
            const after = records[i + 1].oldValue;
            note('progress', after === null ? null : Number(after));
          } else {
            note('progress', progress.hasAttribute('value') ? progress.value : null);
          }
        });
      }).observe(progress, { attributes: true, attributeFilter: ['value'], attributeOldValue: true });
    }
    note('state', document.body.dataset.state);
    note('ready', document.body.dataset.ready);
    new MutationObserver((records) => {
      for (const record of records)
        note(record.attributeName === 'data-ready' ? 'ready' : 'state', record.target.getAttribute(record.attributeName));
    }).observe(document.body, { attributes: true, attributeFilter: ['data-state', 'data-ready'] });
    const notice = $('#device-notice');
    if (notice) {
      // What keeps the run from the device, while it is shown; null once hidden.
      new MutationObserver(() => note('device-notice', notice.hidden ? null : notice.textContent))
        .observe(notice, { attributes: true, attributeFilter: ['hidden'], childList: true, characterData: true, subtree: true });
    }
    const box = $('#message-dialog');
    if (box) {
      watchDialog(box, () => ({ title: $('#message-title').textContent, text: $('#message-text').textContent }));
    }
    const ports = $('#port-dialog');
    if (ports) {
      watchDialog(ports, () => Array.from($('#port-list').options).map((o) => o.textContent));
    }
  }

  if (document.readyState === 'loading')
    document.addEventListener('DOMContentLoaded', start);
  else
    start();
})();
