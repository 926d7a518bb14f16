#pragma once
// The slave address the link puts into frames, as a test sets it.

#include "link/modbus.h"

namespace torvix::testing {

class FixedSlaveAddress : public SlaveAddressSource {
public:
    int slaveAddress() const override { return address; }
    int address = 7;
};

}  // namespace torvix::testing
