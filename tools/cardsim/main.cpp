// cardsim: a Gobi 1000 or 2000 card in download mode on a pty, for tests, demos and benchmarks.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "card.h"
#include "options.h"
#include "pty.h"
#include "transcript.h"

namespace {

void OnSignal(int) {
    g_stopRequested = 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "cardsim: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    cTranscript transcript;
    if (!transcript.Open(options.transcript, error) ||
        (!options.outDir.empty() && !MakeFolders(options.outDir, error))) {
        std::fprintf(stderr, "cardsim: %s\n", error.c_str());
        return 1;
    }
    cPty pty;
    if (!pty.Open(error) || (!options.link.empty() && !pty.Link(options.link, error))) {
        std::fprintf(stderr, "cardsim: %s\n", error.c_str());
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);

    std::printf("%s\n", pty.SlavePath().c_str());
    std::fflush(stdout);
    transcript.Line("Gobi %d000 card in download mode on %s%s%s, firmware preference %d",
                    options.generation, pty.SlavePath().c_str(),
                    options.link.empty() ? "" : ", link ", options.link.c_str(),
                    static_cast<int>(options.preference));
    for (const Fault& fault : options.faults) {
        transcript.Line("fault planned%s: %s",
                        fault.load == 0 ? "" : (" in load " + std::to_string(fault.load)).c_str(),
                        Describe(fault).c_str());
    }
    cCard card(options, pty.Master(), transcript);
    card.SetVanish([&pty] { pty.Close(); });
    return card.Run();
}
