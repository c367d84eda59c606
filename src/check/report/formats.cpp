#include "check/report/formats.h"

#include <algorithm>
#include <iterator>

namespace quorbix {

const ReportFormat* format_named(std::string_view name) {
    const auto* format = std::find_if(std::begin(kFormats), std::end(kFormats),
                                      [name](const ReportFormat& f) { return name == f.name; });
    return format != std::end(kFormats) ? format : nullptr;
}

std::string formats_usage() {
    std::string text;
    const std::size_t n = std::size(kFormats);
    for (std::size_t i = 0; i < n; ++i) {
        const ReportFormat& f = kFormats[i];
        text += i == 0 ? "" : i + 1 == n ? " or " : ", ";
        text += f.name;
        if (*f.note != '\0') {
            text += std::string(" (") + f.note + ")";
        }
    }
    return text;
}

std::vector<ReportPiece> render_report(const ReportFormat& format, const Report& report) {
    ReportRun run = report.run;
    run.files = report.files.size();
    const std::unique_ptr<Renderer> renderer = format.make(run);
    std::vector<ReportPiece> pieces;
    const auto add = [&pieces](std::vector<ReportPiece> more) {
        for (ReportPiece& piece : more) {
            if (!pieces.empty() && pieces.back().channel == piece.channel) {
                pieces.back().text += piece.text;
            } else {
                pieces.push_back(std::move(piece));
            }
        }
    };
    add(renderer->begin());
    for (const ReportedFile& file : report.files) {
        add(renderer->file(file));
    }
    add(renderer->end(report.summary, report.exit_status));
    return pieces;
}

}  // namespace quorbix
