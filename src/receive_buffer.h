#pragma once

namespace Lumetra {

// Room for bursts on a listening UDP socket: at line rate (1 Gbit/s) several milliseconds
// of traffic, so that the listener's naps and short stalls lose no datagram. The kernel
// counts a datagram's overhead too (about 830 bytes for an empty one) and grants twice
// what is asked.
constexpr int RECEIVE_BUFFER_BYTES = 4 << 20;

// Asks for RECEIVE_BUFFER_BYTES on `fd` and returns what the kernel granted. With
// CAP_NET_ADMIN the kernel's ceiling (net.core.rmem_max) does not apply; otherwise it caps
// the size, and the first socket that gets less says so in one line on stderr.
int growReceiveBuffer(int fd);

}  // namespace Lumetra
