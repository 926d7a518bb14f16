// The window shows each field of the status block in one label, and the captions the field
// table gives records and tables are those the window writes beside that label.

#include <gtest/gtest.h>

#include <QString>
#include <algorithm>
#include <set>

#include "control/layout_table.h"
#include "support/qt_printers.h"

namespace torvix {
namespace {

using status_block::kFields;

QString text(std::u16string_view view) {
    return QStringView(view).toString();
}

TEST(FieldLabels, EveryFieldHasALabelOfItsOwnDescribedByTheFieldsCaption) {
    std::set<std::pair<std::string_view, int>> labels;
    for (const auto& field : kFields) {
        SCOPED_TRACE(std::string(field.key));
        const ControlRef label = layout::labelOf(field.id);
        EXPECT_TRUE(labels.insert({label.name, label.index}).second) << "shown twice";
        const layout::ControlEntry* entry = layout::find(label);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->kind, layout::Kind::Label);
        QString described = text(entry->description);
        if (described.endsWith(u':')) described.chop(1);
        EXPECT_EQ(described, text(field.caption));
    }
}

TEST(FieldLabels, LampsAreTheWindowsLampsInBitOrder) {
    for (std::size_t row = 0; row < status_block::kLampRowCount; ++row) {
        const auto& lamps = status_block::kLampRows[row].lamps;
        const auto inWindow = std::count_if(
            std::begin(layout::kControls), std::end(layout::kControls),
            [&](const auto& entry) { return entry.ref.name == layout::kLampLabels[row]; });
        EXPECT_EQ(static_cast<std::size_t>(inWindow), lamps.size());
        for (std::size_t bit = 0; bit < lamps.size(); ++bit) {
            const auto* entry = layout::find({layout::kLampLabels[row], static_cast<int>(bit)});
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(entry->kind, layout::Kind::Lamp);
            EXPECT_EQ(text(entry->caption), text(lamps[bit].caption));
        }
    }
}

// The grid's cell of each word, as the window places its label: rows by height, columns from
// the left, under the headings "Авария  Неисправность  Внутр. неиспр.  Каскад".
TEST(FieldLabels, TheFaultGridIsWhereTheWindowShowsEachWord) {
    const int rowTops[] = {840, 1320, 1800};
    const int columnLefts[] = {1200, 2280, 3360, 4320};
    int cells = 0;
    for (const auto& field : kFields) {
        const auto* cell = status_block::faultCellOf(field.id);
        const auto* entry = layout::find(layout::labelOf(field.id));
        ASSERT_NE(entry, nullptr);
        if (entry->ref.name != "lbl_faults") {
            EXPECT_EQ(cell, nullptr) << field.key;
            continue;
        }
        ASSERT_NE(cell, nullptr) << field.key;
        ++cells;
        EXPECT_EQ(entry->rect.top, rowTops[cell->row]) << field.key;
        EXPECT_EQ(entry->rect.left, columnLefts[cell->column]) << field.key;
        EXPECT_EQ(text(field.caption), text(status_block::kFaultColumns[cell->column]) +
                                           QStringLiteral(", ") +
                                           text(status_block::kFaultRows[cell->row]));
    }
    EXPECT_EQ(cells, 12);
}

}  // namespace
}  // namespace torvix
