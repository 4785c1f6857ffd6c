#include "match_options.h"

#include <CLI/CLI.hpp>

#include <array>
#include <cmath>
#include <cstdio>

namespace pulsara::cli {

void AddMatchOptions(CLI::App& cmd, analysis::MatchWords& words) {
    cmd.add_option("--signal,-s", words.signal,
                   "a row name, a bus row's probe as NAME[j], or a probe number 0-31 (with "
                   "--value: a row)");
    cmd.add_option("--edge", words.edge, "rising, falling or either edges of --signal");
    cmd.add_option("--pulse", words.pulse, "high or low pulses of --signal");
    cmd.add_option("--shorter", words.shorter,
                   "pulses shorter than this: samples (3) or a time (25ns, 1.5us, 2ms)");
    cmd.add_option("--longer", words.longer, "pulses longer than this");
    cmd.add_option("--value", words.value, "where row --signal becomes this hex value");
    cmd.add_option("--mask", words.mask, "hex bits of --value that count");
    cmd.add_option("--pattern", words.pattern,
                   "levels at once: SIG1=1,SIG2=0,DATA=0x3? (? any hex digit)");
    cmd.add_option("-P,--protocol-decoders", words.stacks, "decoder stack, as decode takes it")
        ->allow_extra_args(false);
    cmd.add_option("-A,--protocol-decoder-annotations", words.annotations,
                   "annotations to search, as decode takes them")
        ->allow_extra_args(false);
    cmd.add_option("--text", words.text, "decoded annotations whose text contains this");
    cmd.add_flag("--regex", words.regex, "--text is a regular expression (ECMAScript)");
}

std::string TimeText(double ns) {
    const double magnitude = std::fabs(ns);
    const char* unit = "ns";
    double value = ns;
    if (magnitude >= 1e9) {
        unit = "s";
        value = ns / 1e9;
    } else if (magnitude >= 1e6) {
        unit = "ms";
        value = ns / 1e6;
    } else if (magnitude >= 1e3) {
        unit = "us";
        value = ns / 1e3;
    }
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%+.6f", value);
    std::string out(text.data());
    out.erase(out.find_last_not_of('0') + 1);
    if (out.back() == '.') {
        out.pop_back();
    }
    if (out == "-0") {
        out = "+0";
    }
    return out + unit;
}

} // namespace pulsara::cli
