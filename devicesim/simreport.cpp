#include "simreport.h"

#include <sstream>

std::string PortionSummary(const std::vector<PortionReport>& reports) {
    std::ostringstream out;
    for (size_t index = 0; index < reports.size(); ++index) {
        const PortionReport& report = reports[index];
        out << "Portion " << index + 1 << " of " << reports.size() << ": ";
        if (!report.complete && report.wireBytes == 0)
            out << "not received";
        else if (!report.complete)
            out << "incomplete (" << report.wireBytes << " bytes)";
        else if (report.matched)
            out << "received, as expected";
        else
            out << "received, differs at wire byte " << report.firstDifferenceOffset;
        if (report.restarts == 1)
            out << " (started over once, after a message was cut off)";
        else if (report.restarts > 1)
            out << " (started over " << report.restarts << " times, after messages were cut off)";
        out << ".\n";
    }
    return out.str();
}
