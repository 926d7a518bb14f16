#pragma once
// The steps of a `run` script played on an open poll session, with every status reply recorded
// as monitor records it. The program waits on its event loop; a test steps its clock.

#include <functional>
#include <memory>
#include <vector>

#include "cli/clock.h"
#include "cli/exit_code.h"
#include "cli/junit_report.h"
#include "cli/poll_session.h"
#include "cli/recorder.h"
#include "cli/script.h"

namespace torvix::cli {

class ScriptRun {
public:
    ScriptRun(const Invocation& run, const std::vector<script::Step>& steps, Recorder& recorder,
              PollSession& session);

    // Called once when the run has ended (code() is then final).
    void setOnEnd(std::function<void()> onEnd) { onEnd_ = std::move(onEnd); }
    void start();
    void onTick(const TickOutcome& outcome, Recorder::Taken taken);
    // Ctrl+C: nothing more goes out; the step under way and the rest did not run.
    void interrupt();

    bool ended() const { return ended_; }
    ExitCode code() const { return code_; }
    std::size_t stepsDone() const { return done_; }
    const std::vector<CheckResult>& checks() const { return checks_; }

private:
    double stepSeconds() const;
    void begin();
    void next();
    void onSendTick(const script::Send& send, const TickOutcome& outcome);
    void check(const script::Condition& condition);
    void pass(const QString& event);
    void onTimeout();
    void end(ExitCode code);
    void stopNow(ExitCode code);
    void finish();

    const Invocation& run_;
    const std::vector<script::Step>& steps_;
    Recorder& recorder_;
    PollSession& session_;
    std::vector<CheckResult> checks_;
    std::unique_ptr<Timer> timer_;
    qint64 stepStartNs_ = 0;
    std::size_t index_ = 0;
    std::size_t done_ = 0;
    bool expectFailed_ = false;
    bool ending_ = false;
    bool ended_ = false;
    ExitCode code_ = ExitCode::Ok;
    std::function<void()> onEnd_;
};

// Starts the session and the steps, lets `waitForEnd` run until the sequence has ended (the
// event loop in the program, a test's steps of its clock), then stops the session, prints the
// statistics and the steps' summary on stderr and writes the JUnit report. The exit code.
int playScript(const Invocation& run, const std::vector<script::Step>& steps, PollSession& session,
               Recorder& recorder, const std::function<void(ScriptRun&)>& waitForEnd);

}  // namespace torvix::cli
