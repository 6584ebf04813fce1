#include "portionmatcher.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr uint8_t kStart = 0xF0;
constexpr uint8_t kEnd = 0xF7;

// One way of reading a wire message: how many framing bytes stand in front of
// the data it carries, and how many data bytes it carries.
struct Reading {
    size_t lead;
    size_t length;
};

// The readings that the port's framing rule allows; with exact set, only
// those whose bytes equal the expected data. Without exact, the message is
// read by its length alone, and some reading is always given.
std::vector<Reading> ReadingsOf(const std::vector<uint8_t>& data, bool chunks, size_t position,
                                const std::vector<uint8_t>& message, bool exact) {
    std::vector<Reading> readings;
    const size_t size = message.size();
    if (size == 0 || position >= data.size())
        return readings;
    const size_t remaining = data.size() - position;
    auto equals = [&](const Reading& reading) {
        return std::equal(message.begin() + static_cast<std::ptrdiff_t>(reading.lead),
                          message.begin() +
                              static_cast<std::ptrdiff_t>(reading.lead + reading.length),
                          data.begin() + static_cast<std::ptrdiff_t>(position));
    };

    if (!chunks) {
        Reading verbatim = {0, size};
        if (!exact || (size <= remaining && equals(verbatim)))
            readings.push_back(verbatim);
        return readings;
    }

    // The port puts 0xF0 in front exactly when the block does not begin with it.
    const bool framedFront = data[position] != kStart;
    size_t lead = 0;
    if (framedFront && message[0] == kStart)
        lead = 1;
    else if (framedFront && exact)
        return readings;
    if (size <= lead)
        return readings;
    const size_t carried = size - lead;

    // The port puts 0xF7 at the end exactly when the block does not end with
    // it; a final 0xF7 is therefore framing where the expected byte before it
    // is not 0xF7, and data where the expected byte there is 0xF7.
    if (message[size - 1] == kEnd && carried >= 2) {
        for (size_t trail : {size_t{1}, size_t{0}}) {
            Reading reading = {lead, carried - trail};
            size_t last = position + reading.length - 1;
            bool beyond = reading.length > remaining;
            if (!beyond && (data[last] != kEnd) != (trail == 1))
                continue;
            if (exact && (beyond || !equals(reading)))
                continue;
            readings.push_back(reading);
        }
        if (readings.empty() && !exact)
            readings.push_back({lead, carried - 1});
        return readings;
    }
    Reading whole = {lead, carried};
    // A message without a final 0xF7 breaks the framing rule unless the block
    // itself was a lone 0xF7 behind the added 0xF0.
    if (!exact || (message[size - 1] == kEnd && carried <= remaining && equals(whole)))
        readings.push_back(whole);
    return readings;
}

void AddPositions(std::vector<size_t>& positions, size_t from, const std::vector<Reading>& readings,
                  size_t end) {
    std::transform(readings.begin(), readings.end(), std::back_inserter(positions),
                   [&](const Reading& reading) { return std::min(from + reading.length, end); });
}

void SortUnique(std::vector<size_t>& positions) {
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
}

} // namespace

PortionMatcher::PortionMatcher(const std::vector<uint8_t>& data, bool chunks)
    : data(data), chunks(chunks), positions{0} {}

std::vector<size_t> PortionMatcher::Readings(size_t position, const std::vector<uint8_t>& message,
                                             bool exact) const {
    std::vector<size_t> next;
    AddPositions(next, position, ReadingsOf(data, chunks, position, message, exact), data.size());
    return next;
}

bool PortionMatcher::Continues(const std::vector<uint8_t>& message) const {
    return std::any_of(positions.begin(), positions.end(),
                       [&](size_t position) { return !Readings(position, message, true).empty(); });
}

void PortionMatcher::Take(const std::vector<uint8_t>& message) {
    if (message.empty() || IsComplete())
        return;
    std::vector<size_t> next;
    for (size_t position : positions) {
        std::vector<size_t> readings = Readings(position, message, true);
        next.insert(next.end(), readings.begin(), readings.end());
    }
    if (next.empty()) {
        if (IsMatched())
            NoteDifference(positions.front(), message);
        for (size_t position : positions) {
            std::vector<size_t> readings = Readings(position, message, false);
            next.insert(next.end(), readings.begin(), readings.end());
        }
    }
    SortUnique(next);
    positions.swap(next);
}

bool PortionMatcher::IsComplete() const {
    return positions.back() == data.size();
}

size_t PortionMatcher::GetPosition() const {
    return positions.back();
}

void PortionMatcher::NoteDifference(size_t position, const std::vector<uint8_t>& message) {
    // Compare along the shortest reading by length, which leaves out a final
    // 0xF7 that can only be framing.
    std::vector<Reading> readings = ReadingsOf(data, chunks, position, message, false);
    const size_t remaining = data.size() - position;
    const Reading reading = readings.empty() ? Reading{0, 0} : readings.front();
    const size_t compared = std::min(reading.length, remaining);
    for (size_t i = 0; i < compared; ++i) {
        if (message[reading.lead + i] != data[position + i]) {
            differenceOffset = static_cast<int64_t>(position + i);
            expectedByte = data[position + i];
            receivedByte = message[reading.lead + i];
            return;
        }
    }
    // Every byte that could be compared is equal: the message ran past the end
    // of the data, or its framing does not fit the data where it ends.
    differenceOffset = static_cast<int64_t>(position + compared);
    expectedByte = compared < remaining ? data[position + compared] : -1;
    receivedByte = compared < reading.length ? message[reading.lead + compared] : -1;
}
