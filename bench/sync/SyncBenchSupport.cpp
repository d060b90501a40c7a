#include "SyncBenchSupport.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tavo::bench {

namespace {

bool positiveNumber(const std::string& text, long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), nullptr, 10);
    if (errno != 0 || parsed <= 0)
        return false;
    *value = parsed;
    return true;
}

// The base of an address printed as "<base><suffix>" after marker.
bool baseAfter(const std::string& line, const std::string& marker, const std::string& suffix, std::string* base) {
    const auto at = line.find(marker);
    if (at == std::string::npos)
        return false;
    std::string url = line.substr(at + marker.size());
    while (!url.empty() && (url.back() == '\r' || url.back() == ' '))
        url.pop_back();
    if (url.size() <= suffix.size() || url.compare(url.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    url.resize(url.size() - suffix.size());
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0)
        return false;
    *base = url;
    return true;
}

std::string formatted(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace

std::string syncBenchUsage() {
    return "usage: font_sync_bench [--fonts N] [--events N] [--quick] [--no-log] [--keep]\n"
           "                       [--refservice PROGRAM]\n"
           "  --fonts N       fonts of the account (default 10000)\n"
           "  --events N      web-side activations timed (default 100)\n"
           "  --quick         a smoke run: 500 fonts, 20 events\n"
           "  --no-log        do not write the program log (the resident application does)\n"
           "  --keep          keep the sandbox root and print where it is\n"
           "  --refservice    the tavo-refservice program to start (default: the one built\n"
           "                  with this benchmark)\n";
}

std::optional<SyncBenchOptions> parseSyncBenchOptions(const std::vector<std::string>& args, std::string* error,
                                                      bool* help) {
    SyncBenchOptions options;
    std::optional<long> fonts;
    std::optional<long> events;
    auto fail = [&](const std::string& why) -> std::optional<SyncBenchOptions> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--help" || arg == "-h") {
            if (help)
                *help = true;
            return fail("");
        }
        if (arg == "--quick") {
            options.fonts = 500;
            options.events = 20;
        } else if (arg == "--no-log") {
            options.log = false;
        } else if (arg == "--keep") {
            options.keep = true;
        } else if (arg == "--fonts" || arg == "--events") {
            long value = 0;
            if (!hasValue || !positiveNumber(args[i + 1], &value))
                return fail(arg + " needs a positive number");
            (arg == "--fonts" ? fonts : events) = value;
            ++i;
        } else if (arg == "--refservice") {
            if (!hasValue || args[i + 1].empty())
                return fail("--refservice needs a program");
            options.refservice = args[++i];
        } else {
            return fail("unknown option " + arg);
        }
    }
    if (fonts)
        options.fonts = *fonts;
    if (events)
        options.events = *events;
    if (options.events > options.fonts)
        return fail("--events must not exceed --fonts: each event needs a font of its own");
    return options;
}

bool readServiceLine(const std::string& line, ServiceAddresses& addresses) {
    if (baseAfter(line, "delivery API at ", "/api/v1", &addresses.api))
        return true;
    return baseAfter(line, "notifications at ", "/notifications", &addresses.sse);
}

std::string curlQuoted(const std::string& value) {
    std::string quoted = "\"";
    for (const char c : value) {
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        default: quoted += c;
        }
    }
    return quoted + "\"";
}

std::string curlConfig(const std::vector<std::string>& headers,
                       const std::vector<std::pair<std::string, std::string>>& urlsAndOutputs) {
    std::string config;
    for (const auto& header : headers)
        config += "header = " + curlQuoted(header) + "\n";
    for (const auto& [url, output] : urlsAndOutputs) {
        config += "url = " + curlQuoted(url) + "\n";
        config += "output = " + curlQuoted(output) + "\n";
    }
    return config;
}

double percentile(std::vector<double> samples, double p) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
    const auto index = static_cast<std::size_t>(std::clamp(rank, 1.0, static_cast<double>(samples.size()))) - 1;
    return samples[index];
}

std::string renderTable(const std::vector<ResultRow>& rows) {
    const std::vector<std::string> heads = {"operation", "time", "baseline", "ratio", "target", "result"};
    std::vector<std::vector<std::string>> cells;
    for (const auto& row : rows) {
        auto text = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
        cells.push_back({row.operation, text(row.time), text(row.baseline), text(row.ratio), text(row.target),
                         row.pass ? (*row.pass ? "PASS" : "FAIL") : "-"});
    }
    std::vector<std::size_t> widths;
    for (const auto& head : heads)
        widths.push_back(head.size());
    for (const auto& line : cells)
        for (std::size_t c = 0; c < line.size(); ++c)
            widths[c] = std::max(widths[c], line[c].size());

    auto render = [&](const std::vector<std::string>& line) {
        std::string out;
        for (std::size_t c = 0; c < line.size(); ++c) {
            // The operation reads left to right, the figures line up on the right.
            const std::string pad(widths[c] - line[c].size(), ' ');
            out += c == 0 ? line[c] + pad : pad + line[c];
            out += c + 1 < line.size() ? " | " : "\n";
        }
        return out;
    };
    std::string table = render(heads);
    for (std::size_t c = 0; c < widths.size(); ++c)
        table += std::string(widths[c], '-') + (c + 1 < widths.size() ? "-+-" : "\n");
    for (const auto& line : cells)
        table += render(line);
    return table;
}

std::string durationText(double seconds) {
    if (seconds >= 1)
        return formatted("%.3f s", seconds);
    if (seconds >= 0.01)
        return formatted("%.1f ms", seconds * 1e3);
    return formatted("%.3f ms", seconds * 1e3);
}

std::string ratioText(double ratio) { return formatted("%.2fx", ratio); }

std::string megabytesText(long kilobytes) { return formatted("%.1f MB", static_cast<double>(kilobytes) / 1024.0); }

}  // namespace tavo::bench
