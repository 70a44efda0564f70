// The card's side of the download protocol: checks every message the host sends, in order,
// answers each as a Gobi card in download mode does (or with an injected fault), stores the
// images it receives and measures how fast they came.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

#include "options.h"
#include "qdl_messages.h"
#include "sha256.h"
#include "transcript.h"

// Set by a signal handler; the card ends at its next turn.
extern volatile std::sig_atomic_t g_stopRequested;

class cCard {
  public:
    cCard(const Options& options, int line, cTranscript& transcript);
    cCard(const cCard&) = delete;
    cCard& operator=(const cCard&) = delete;
    ~cCard();

    // Serves the line until the card ends; returns the exit status.
    int Run();
    // What the card does to go away (the vanish fault): close the pty.
    void SetVanish(std::function<void()> vanish) { m_vanish = std::move(vanish); }

  private:
    using Clock = std::chrono::steady_clock;
    enum class Stage { kInitial, kPre1, kPre2, kData, kFinal };

    bool ReadInput();
    void OnFrameBytes(const uint8_t* bytes, size_t count);
    bool TryAccept();
    void Diagnose();
    void OnData(const uint8_t* bytes, size_t count);
    bool OnQuiet(Clock::time_point now);

    void StartLoad();
    void AcceptPre1(uint32_t size);
    void AcceptPre2();
    void FinishImage();
    void CompleteLoad();
    void FailLoad(const std::string& reason, bool hostAtFault);
    void ResetToInitial();
    void Finish(const char* reason);

    void Reply(FaultPoint point, const char* name, Bytes payload);
    bool WriteLine(const uint8_t* bytes, size_t count);
    void Pause(long ms);
    const Fault* FindFault(FaultPoint point) const;

    size_t Needed() const;
    std::string Expected() const;
    Bytes ExpectedBytes(const Bytes& got) const;
    const char* ImageName() const { return qdl::kImages[m_image].name; }

    const Options& m_options;
    const int m_line;
    cTranscript& m_log;
    Bytes m_buffer;

    Stage m_stage = Stage::kInitial;
    Clock::time_point m_lastActivity;
    bool m_done = false;

    // Bytes of a message being gathered; judging: they do not form the expected message and the
    // card reads on until the line is quiet, then says what was wrong.
    Bytes m_pending;
    size_t m_pendingTotal = 0;
    bool m_judging = false;

    // Loads.
    int m_load = 0;
    bool m_loadActive = false;
    bool m_faultThisLoad = false;
    int m_completed = 0;
    int m_failed = 0;
    size_t m_loadImages = 0;
    uint64_t m_loadBytes = 0;
    uint64_t m_loadTimedBytes = 0;
    double m_loadSeconds = 0;

    // The image being received.
    size_t m_image = 0;
    uint32_t m_size = 0;
    uint32_t m_received = 0;
    size_t m_firstChunk = 0;
    size_t m_reads = 0;
    Clock::time_point m_firstByte;
    Clock::time_point m_lastByte;
    bool m_stallDone = false;
    std::function<void()> m_vanish;
    // The stall or vanish fault of the image being read, if any, and where in it it strikes.
    const Fault* DataFault() const;
    uint32_t DataFaultOffset(const Fault& fault) const;
    int m_outFd = -1;
    std::string m_outPath;
    cSha256 m_sha;
};
