// FUSE operations of the board's two mounts. Their private data is the
// BoardModel that answers them; paths are relative to each mount.
#pragma once

#include "fuse_mount.h"

namespace vboard {

const fuse_operations& dev_operations();  // i2c-0, mem
const fuse_operations& sys_operations();  // class/gpio, class/i2c-adapter, class/hwmon

}  // namespace vboard
