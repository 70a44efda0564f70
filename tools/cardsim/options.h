// The simulated card's command line: the card it plays, where it shows up, what it records and
// which faults it injects into its replies and its reading.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class FaultPoint { kInitial, kPre1, kPost, kStall, kVanish };

enum class FaultKind {
    kFirstByte,  // payload byte 0 replaced (default 0x0D), FCS made to match
    kNoFlag,     // the opening 0x7E replaced by 0x00
    kBadFcs,     // FCS low byte inverted
    kSplit,      // the reply in two writes with a gap (default 50 ms)
    kExtra,      // the reply followed by extra bytes (default 4) in the same write
    kNoReply,    // nothing sent
    kStuffed,    // 0x7E/0x7D inside the frame escaped as 7D 5E / 7D 5D
    kLate,       // the reply sent after a delay (default 2500 ms)
    kStall,      // reading stops for arg ms at a point of the image (default half way)
    kVanish,     // the card goes away at a point of the image: it closes its pty and ends
};

struct Fault {
    FaultPoint point = FaultPoint::kInitial;
    int image = -1;  // index into qdl::kImages; -1 for the initial message
    FaultKind kind = FaultKind::kNoReply;
    long arg = 0;
    int load = 0;      // the load (1-based) it applies to; 0 for every load
    int percent = 50;  // stall, vanish: where in the image, in percent of its size (0..99)
};

struct Options {
    int generation = 2;
    int32_t preference = -1;
    std::string link;
    std::string outDir;
    std::string transcript;
    double idleExitSeconds = 10;
    int resyncMs = 2500;
    int loads = 0;  // 0: end after the first completed load
    bool stay = false;
    bool help = false;
    std::vector<Fault> faults;
};

extern const char kUsage[];

// Fills options from argv. On a bad argument returns false with the reason in error.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

// The text of a fault, as the transcript shows it.
std::string Describe(const Fault& fault);
