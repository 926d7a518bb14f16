#include "decode/decoder.h"

#include "decode/formatting.h"
#include "decode/register_map.h"
#include "link/protocol.h"

namespace torvix {
namespace {

double readField(Bytes rx, const status_block::ScaledField& field) {
    using status_block::ReadAs;
    const int k = registerOffset(field.reg);
    switch (field.readAs) {
        case ReadAs::U16:
            return readU16(rx, k);
        case ReadAs::S16:
            return readS16(rx, k);
        case ReadAs::U32:
            return readU32(rx, k);
        case ReadAs::S32:
            return readS32(rx, k);
        case ReadAs::HighByte:
            return rx[k];
        case ReadAs::LowByte:
            return rx[k + 1];
    }
    return 0;
}

void showFaultsAndIndicators(Bytes rx, DisplaySink& display) {
    for (const auto& field : status_block::kHexFields) {
        const int k = registerOffset(field.reg);
        const std::uint64_t value = field.width == 8 ? readU32(rx, k) : readU16(rx, k);
        display.setCaption(field.control,
                           QStringView(field.prefix).toString() + hexPadded(value, field.width));
    }
    for (const auto& row : status_block::kLampRows) {
        const std::uint16_t bits = readU16(rx, registerOffset(row.reg));
        for (int i = 0; i < row.count; ++i) display.setLamp({row.label, i}, (bits >> i) & 1u);
    }
}

void showStatusBlock(Bytes rx, DisplaySink& display, const QLocale& locale) {
    for (const auto& field : status_block::kVersionFields) {
        const int k = registerOffset(field.reg);
        display.setCaption({field.label}, versionText(rx[k], rx[k + 1], locale));
    }
    for (const auto& field : status_block::kScaledFields) {
        display.setCaption({field.label}, formatScaled(readField(rx, field), field.decimals,
                                                       field.scale, field.suffix, locale));
    }
    showFaultsAndIndicators(rx, display);
}

}  // namespace

void decodeReply(std::span<const std::uint8_t> reply, DisplaySink& display, const QLocale& locale) {
    if (reply.size() < 2) return;
    switch (reply[1]) {
        case protocol::kReadInputRegisters:
            if (reply.size() == protocol::kStatusReplyBytes &&
                reply[2] == 2 * protocol::kStatusRegisterCount)
                showStatusBlock(reply, display, locale);
            break;
        case protocol::kWriteMultipleRegisters:
            display.setBackground({"txt_prior_sec"}, kGreen);
            break;
        default:
            break;  // counter and command echoes, exception replies
    }
}

}  // namespace torvix
