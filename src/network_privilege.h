#pragma once

namespace Lumetra {

// CAP_NET_ADMIN lets the sockets have receive buffers beyond net.core.rmem_max; the
// service grants it for that alone. Once the sockets are sized it is given up (effective,
// permitted, inheritable and so ambient), so the running show holds it no longer. True
// when the process does not hold it afterwards.
bool dropNetworkPrivilege();

}  // namespace Lumetra
