#pragma once
// The slave address the link puts into frames, as a test sets it.

#include "link/modbus.h"
#include "protocol/defaults.h"

namespace torvix::testing {

class FixedSlaveAddress : public SlaveAddressSource {
public:
    int slaveAddress() const override { return address; }
    int address = defaults::kSlaveAddress;
};

}  // namespace torvix::testing
