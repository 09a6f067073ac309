// The host's byte order, probed once at start-up: the converter refuses to
// run on a host that is neither big- nor little-endian.
#pragma once

namespace zelk {

// True when this host stores 16- and 32-bit values in one of the two orders.
bool host_order_known();

// The same decision for the memory-order bytes of the values 0x0102 and
// 0x01020304, so that other hosts can be tried in tests.
bool byte_order_known(const unsigned char word_bytes[2], const unsigned char long_bytes[4]);

}  // namespace zelk
