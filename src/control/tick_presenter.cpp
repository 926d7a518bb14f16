#include "control/tick_presenter.h"

#include "decode/status_snapshot.h"
#include "decode/status_texts.h"
#include "link/protocol.h"
#include "link/request_table.h"

namespace torvix {

TickPresenter::TickPresenter(const Modbus& modbus, DisplaySink& display, StatusLine& status,
                             QLocale locale, Clock clock)
    : modbus_(modbus),
      display_(display),
      status_(status),
      locale_(std::move(locale)),
      clock_(std::move(clock)) {}

std::chrono::milliseconds TickPresenter::steadyClock() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

void TickPresenter::show(const TickOutcome& outcome) {
    QString text = verdictText(outcome);
    if (!notice_.isEmpty()) {
        if (clock_() < noticeUntil_)
            text += QStringLiteral(". ") + notice_;
        else
            notice_.clear();
    }
    // While commands are being refused the operator must see that, not only for one tick.
    if (modbus_.isQueueFull()) text += QStringLiteral(". ") + status_text::kQueueFull;
    status_.setStatusText(text);

    if (outcome.verdict == Verdict::Answered) showReply(outcome.reply);
    showCounter(outcome.sent);
}

QString TickPresenter::verdictText(const TickOutcome& outcome) {
    // A busy controller is asked again and acknowledge counts as executed; any other refusal
    // is named on the status line for a while.
    if (outcome.verdict == Verdict::Exception && outcome.retired &&
        outcome.exceptionCode != protocol::exception_code::kAcknowledge) {
        notice_ = status_text::refused(requests::name(outcome.answered), outcome.exceptionCode);
        noticeUntil_ = clock_() + kNoticeTime;
    }
    return outcome_words::statusLine(outcome.verdict, outcome.exceptionCode);
}

void TickPresenter::showReply(std::span<const std::uint8_t> reply) {
    switch (requests::shapeAnswered(reply).value_or(requests::Shape::WriteCode)) {
        case requests::Shape::ReadStatus:
            if (const auto snapshot = StatusSnapshot::fromReply(reply))
                display_.showStatus(statusTexts(*snapshot, locale_));
            break;
        case requests::Shape::WriteNumber:
            display_.setBackground({"txt_prior_sec"}, kGreen);
            break;
        case requests::Shape::WriteArgument:
        case requests::Shape::WriteCode:
            break;  // counter and command echoes
    }
}

void TickPresenter::showCounter(std::span<const std::uint8_t> sent) {
    const auto request = requests::identify(sent);
    if (!request || request->kind != requests::Kind::CounterWrite) return;
    display_.setCaption({"lbl_tr_id"}, QString::number(request->argument));
}

}  // namespace torvix
