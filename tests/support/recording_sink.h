#pragma once
// Keeps what the link and the decoder wrote into the window, by control name and index.

#include <QString>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "control/window_sinks.h"
#include "link/modbus.h"
#include "support/qt_printers.h"

namespace torvix::testing {

class RecordingSink : public DisplaySink, public StatusLine, public SlaveAddressSource {
public:
    using Key = std::pair<std::string, int>;

    std::map<Key, QString> captions;
    std::map<Key, bool> lamps;
    std::map<Key, Rgb> backgrounds;
    std::vector<QString> statusHistory;
    int captionWrites = 0;
    int address = 7;
    int repaints = 0;

    void setCaption(ControlRef c, const QString& text) override {
        captions[key(c)] = text;
        ++captionWrites;
    }
    void setLamp(ControlRef c, bool lit) override { lamps[key(c)] = lit; }
    void setBackground(ControlRef c, Rgb colour) override { backgrounds[key(c)] = colour; }
    void setStatusText(const QString& text) override { statusHistory.push_back(text); }
    QString statusText() const override {
        return statusHistory.empty() ? QString() : statusHistory.back();
    }
    void repaintNow() override { ++repaints; }
    int slaveAddress() const override { return address; }

    QString caption(const std::string& name, int index = -1) const {
        auto it = captions.find({name, index});
        return it == captions.end() ? QString() : it->second;
    }
    bool hasCaption(const std::string& name, int index = -1) const {
        return captions.contains({name, index});
    }
    bool lamp(const std::string& name, int index) const { return lamps.at({name, index}); }

private:
    static Key key(ControlRef c) { return {std::string(c.name), c.index}; }
};

}  // namespace torvix::testing
