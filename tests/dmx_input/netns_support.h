#pragma once

#include <string>

namespace Lumetra {
namespace ArtnetTest {

// A controller and a node namespace joined by a veth pair (tests/dmx_input/netns.sh). The
// controller is PREFIX.1 on eth0, the node PREFIX.2 on `node_iface`. Removed on destruction,
// and by the constructor itself when the set-up fails half-way (it then throws). Names are
// unique per process and pair.
class NetnsPair {
  public:
    explicit NetnsPair(const std::string& node_iface = "eth0");
    ~NetnsPair();
    NetnsPair(const NetnsPair&) = delete;
    NetnsPair& operator=(const NetnsPair&) = delete;

    // Named namespaces really work here: root, and a probe namespace can be made, entered
    // (`ip -n`, `ip netns exec`) and removed. Tried once per process. The tests that need
    // the pair skip themselves otherwise, saying why.
    static bool available();
    // Why not, in one line; empty when available.
    static const std::string& unavailableReason();

  private:
    const int serial;

  public:
    const std::string ctl;
    const std::string node;
    static constexpr const char* CTL_IP = "10.254.55.1";
    static constexpr const char* NODE_IP = "10.254.55.2";
};

// Moves the calling thread (and the threads it starts from now on) into a namespace; the
// destructor moves it back.
class InNetns {
  public:
    explicit InNetns(const std::string& name);
    ~InNetns();
    InNetns(const InNetns&) = delete;
    InNetns& operator=(const InNetns&) = delete;

  private:
    int home;
};

// Runs `command` through the shell; its exit status.
int shell(const std::string& command);
// What `command` printed on standard output.
std::string shellOutput(const std::string& command);
// Path of a script in tests/dmx_input/ of the source tree.
std::string script(const std::string& name);

}  // namespace ArtnetTest
}  // namespace Lumetra
