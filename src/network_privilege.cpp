#include "network_privilege.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Lumetra {

bool dropNetworkPrivilege() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, sets) != 0) {
        return false;
    }
    const unsigned word = CAP_TO_INDEX(CAP_NET_ADMIN);
    const unsigned bit = CAP_TO_MASK(CAP_NET_ADMIN);
    if ((sets[word].permitted & bit) == 0) {
        return true;
    }
    sets[word].effective &= ~bit;
    sets[word].permitted &= ~bit;
    sets[word].inheritable &= ~bit;
    return syscall(SYS_capset, &header, sets) == 0;
}

}  // namespace Lumetra
