// Digital I/O of a PSIA camera: inputs read through
// "/PSIA/System/IO/inputs/<index>/status", outputs driven through
// "/PSIA/System/IO/outputs/<index>/trigger", each poll and write with a
// fresh PSIA client.
#pragma once

#include "io/io_base.h"

namespace telvaro {

class CPSIAIO : public CIOBase {
public:
    explicit CPSIAIO(IDriver* driver);
    ~CPSIAIO() override;

    // Inputs 0 to count - 1 in order; stops at the first that cannot be read.
    bool ReadInputs() override;
    // Value 1 drives the output "high", any other value "low".
    bool WriteOutput(int32_t outputIndex, int32_t value) override;
};

}  // namespace telvaro
