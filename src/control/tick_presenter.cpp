#include "control/tick_presenter.h"

#include "decode/status_texts.h"
#include "protocol/protocol.h"
#include "protocol/request_table.h"

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

    if (outcome.verdict == Verdict::Answered) showReply(outcome);
    showCounter(outcome);
}

QString TickPresenter::verdictText(const TickOutcome& outcome) {
    // A busy controller is asked again and acknowledge counts as executed; any other refusal
    // is named on the status line for a while.
    if (outcome.verdict == Verdict::Exception && outcome.retired &&
        outcome.exceptionCode != protocol::exception_code::kAcknowledge) {
        const QString name = outcome.answeredRequest ? requests::name(*outcome.answeredRequest)
                                                     : requests::name(outcome.answered);
        notice_ = status_text::refused(name, outcome.exceptionCode);
        noticeUntil_ = clock_() + kNoticeTime;
    }
    return status_text::statusLine(outcome.verdict, outcome.exceptionCode);
}

void TickPresenter::showReply(const TickOutcome& outcome) {
    if (outcome.status) {
        display_.showStatus(statusTexts(*outcome.status, locale_));
    } else if (outcome.replyShape == requests::Shape::WriteNumber) {
        display_.setBackground({"txt_prior_sec"}, kGreen);
    }
}

void TickPresenter::showCounter(const TickOutcome& outcome) {
    const auto& request = outcome.sentRequest;
    if (!request || request->kind != requests::Kind::CounterWrite) return;
    display_.setCaption({"lbl_tr_id"}, QString::number(request->argument));
}

}  // namespace torvix
