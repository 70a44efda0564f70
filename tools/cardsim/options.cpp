#include "options.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qdl_messages.h"

const char kUsage[] =
    "usage: cardsim [options]\n"
    "Plays a Gobi card in download mode on a pty.\n"
    "  --generation 1|2      Gobi 1000 or Gobi 2000 card (default 2)\n"
    "  --preference N        firmware preference in the initial answer (default -1)\n"
    "  --link PATH           make PATH a symlink to the pty's slave (parent folders made)\n"
    "  --out DIR             write the received images to DIR/AMSS.bin, APPS.bin, UQCN.bin\n"
    "  --transcript FILE     write the transcript to FILE (default: standard output)\n"
    "  --idle-exit SECONDS   end after this long without input (default 10)\n"
    "  --resync-ms MS        an image that stops for this long is given up (default 2500)\n"
    "  --loads N             end after N completed loads (default: after the first)\n"
    "  --stay                do not end after a completed load; end when idle\n"
    "  --fault FAULT         inject a fault; FAULT is one of\n"
    "                          initial:KIND[:ARG][@LOAD]\n"
    "                          pre1:IMAGE:KIND[:ARG][@LOAD]\n"
    "                          post:IMAGE:KIND[:ARG][@LOAD]\n"
    "                          stall:IMAGE:MS[:PERCENT][@LOAD]\n"
    "                          vanish:IMAGE[:PERCENT][@LOAD]\n"
    "                        IMAGE is AMSS, APPS or UQCN; KIND is firstbyte[:VALUE], noflag,\n"
    "                        badfcs, split[:MS], extra[:COUNT], noreply, stuffed, late[:MS];\n"
    "                        stall stops reading for MS ms and vanish closes the pty and ends,\n"
    "                        at PERCENT (0-99, default 50) of the image;\n"
    "                        @LOAD limits it to that load (1-based), else every load\n"
    "  --help                print this text\n"
    "The pty's slave path is printed on the first line of standard output. The transcript\n"
    "shows every message received and sent in hexadecimal, each image's size, SHA-256 and\n"
    "throughput (image bytes between the first and the last read of the image), every\n"
    "injected fault (FAULT:) and every breach of the protocol by the host (VIOLATION:).\n"
    "Exit status 0 when the required number of loads completed without a fault in the\n"
    "protocol, 1 otherwise, 2 on a bad command line.\n";

namespace {

bool ParseLong(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < low || v > high) {
        return false;
    }
    value = v;
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

struct KindName {
    const char* name;
    FaultKind kind;
    long defaultArg;
    long long maxArg;  // 0: takes no argument
};

constexpr KindName kKinds[] = {
    {"firstbyte", FaultKind::kFirstByte, 0x0D, 0xFF},
    {"noflag", FaultKind::kNoFlag, 0, 0},
    {"badfcs", FaultKind::kBadFcs, 0, 0},
    {"split", FaultKind::kSplit, 50, 60000},
    {"extra", FaultKind::kExtra, 4, 1000},
    {"noreply", FaultKind::kNoReply, 0, 0},
    {"stuffed", FaultKind::kStuffed, 0, 0},
    {"late", FaultKind::kLate, 2500, 60000},
};

bool ParseFault(const std::string& text, Fault& fault, std::string& error) {
    std::string body = text;
    size_t at = text.find('@');
    if (at != std::string::npos) {
        long long load = 0;
        if (!ParseLong(text.substr(at + 1), 1, 1000000, load)) {
            error = "bad load number in fault '" + text + "'";
            return false;
        }
        fault.load = static_cast<int>(load);
        body = text.substr(0, at);
    }
    std::vector<std::string> parts = Split(body, ':');
    size_t next = 1;
    if (parts[0] == "initial") {
        fault.point = FaultPoint::kInitial;
    } else if (parts[0] == "pre1" || parts[0] == "post" || parts[0] == "stall" ||
               parts[0] == "vanish") {
        fault.point = parts[0] == "pre1"    ? FaultPoint::kPre1
                      : parts[0] == "post"  ? FaultPoint::kPost
                      : parts[0] == "stall" ? FaultPoint::kStall
                                            : FaultPoint::kVanish;
        if (parts.size() < 2 || (fault.image = qdl::ImageIndex(parts[1])) < 0) {
            error = "fault '" + text + "' needs an image: AMSS, APPS or UQCN";
            return false;
        }
        next = 2;
    } else {
        error = "fault '" + text + "': where must be initial, pre1, post, stall or vanish";
        return false;
    }
    if (fault.point == FaultPoint::kStall || fault.point == FaultPoint::kVanish) {
        const bool stall = fault.point == FaultPoint::kStall;
        const size_t at = stall ? 3 : 2;  // the index of PERCENT
        long long ms = 0;
        long long percent = 50;
        if (parts.size() < at || parts.size() > at + 1 ||
            (stall && !ParseLong(parts[2], 0, 600000, ms)) ||
            (parts.size() == at + 1 && !ParseLong(parts[at], 0, 99, percent))) {
            error = "fault '" + text + "' must be " +
                    (stall ? "stall:IMAGE:MS[:PERCENT]" : "vanish:IMAGE[:PERCENT]");
            return false;
        }
        fault.kind = stall ? FaultKind::kStall : FaultKind::kVanish;
        fault.arg = static_cast<long>(ms);
        fault.percent = static_cast<int>(percent);
        return true;
    }
    if (parts.size() <= next) {
        error = "fault '" + text + "' needs a kind";
        return false;
    }
    for (const KindName& k : kKinds) {
        if (parts[next] != k.name) {
            continue;
        }
        fault.kind = k.kind;
        fault.arg = k.defaultArg;
        if (parts.size() == next + 1) {
            return true;
        }
        long long arg = 0;
        if (k.maxArg == 0 || parts.size() != next + 2 ||
            !ParseLong(parts[next + 1], 0, k.maxArg, arg)) {
            error = "bad argument in fault '" + text + "'";
            return false;
        }
        fault.arg = static_cast<long>(arg);
        return true;
    }
    error = "unknown fault kind '" + parts[next] + "' in '" + text + "'";
    return false;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            return true;
        }
        if (name == "--stay") {
            options.stay = true;
            continue;
        }
        if (i + 1 >= argc) {
            error = name.rfind("--", 0) == 0 ? "option " + name + " needs a value"
                                             : "unknown argument " + name;
            return false;
        }
        std::string value = argv[++i];
        long long number = 0;
        if (name == "--generation") {
            if (!ParseLong(value, 1, 2, number)) {
                error = "--generation must be 1 or 2";
                return false;
            }
            options.generation = static_cast<int>(number);
        } else if (name == "--preference") {
            if (!ParseLong(value, INT32_MIN, UINT32_MAX, number)) {
                error = "--preference must be a 32-bit number";
                return false;
            }
            options.preference = static_cast<int32_t>(static_cast<uint32_t>(number));
        } else if (name == "--link") {
            options.link = value;
        } else if (name == "--out") {
            options.outDir = value;
        } else if (name == "--transcript") {
            options.transcript = value;
        } else if (name == "--idle-exit") {
            char* end = nullptr;
            double seconds = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(seconds > 0) || seconds > 86400) {
                error = "--idle-exit must be a number of seconds above 0";
                return false;
            }
            options.idleExitSeconds = seconds;
        } else if (name == "--resync-ms") {
            if (!ParseLong(value, 1, 600000, number)) {
                error = "--resync-ms must be a number of milliseconds above 0";
                return false;
            }
            options.resyncMs = static_cast<int>(number);
        } else if (name == "--loads") {
            if (!ParseLong(value, 1, 1000000, number)) {
                error = "--loads must be a number above 0";
                return false;
            }
            options.loads = static_cast<int>(number);
        } else if (name == "--fault") {
            Fault fault;
            if (!ParseFault(value, fault, error)) {
                return false;
            }
            options.faults.push_back(fault);
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    for (const Fault& f : options.faults) {
        if (f.image >= static_cast<int>(qdl::ImageCount(options.generation))) {
            error = "a Gobi 1000 card gets no UQCN image: fault " + Describe(f) + " cannot happen";
            return false;
        }
    }
    return true;
}

std::string Describe(const Fault& fault) {
    std::string text;
    switch (fault.point) {
        case FaultPoint::kInitial:
            text = "answer to the initial message";
            break;
        case FaultPoint::kPre1:
            text =
                std::string("answer to PreFirmware message 1 of ") + qdl::kImages[fault.image].name;
            break;
        case FaultPoint::kPost:
            text = std::string("PostFirmware response of ") + qdl::kImages[fault.image].name;
            break;
        case FaultPoint::kStall:
            return std::string("reading of ") + qdl::kImages[fault.image].name + " stops at " +
                   std::to_string(fault.percent) + "% for " + std::to_string(fault.arg) + " ms";
        case FaultPoint::kVanish:
            return std::string("the card vanishes at ") + std::to_string(fault.percent) + "% of " +
                   qdl::kImages[fault.image].name;
    }
    char arg[64];
    switch (fault.kind) {
        case FaultKind::kFirstByte:
            std::snprintf(arg, sizeof arg, ": first payload byte %02lX", fault.arg);
            return text + arg;
        case FaultKind::kNoFlag:
            return text + ": opening flag replaced by 00";
        case FaultKind::kBadFcs:
            return text + ": FCS low byte inverted";
        case FaultKind::kSplit:
            return text + ": in two writes " + std::to_string(fault.arg) + " ms apart";
        case FaultKind::kExtra:
            return text + ": followed by " + std::to_string(fault.arg) + " extra bytes 55";
        case FaultKind::kNoReply:
            return text + ": not sent";
        case FaultKind::kStuffed:
            return text + ": byte-stuffed";
        case FaultKind::kLate:
            return text + ": sent after " + std::to_string(fault.arg) + " ms";
        case FaultKind::kStall:
        case FaultKind::kVanish:
            break;
    }
    return text;
}
