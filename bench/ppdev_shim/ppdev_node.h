// The ppdev device nodes /dev/parportN as the bench serves them to other tools:
// which node names which bench port, and the ppdev requests on an open node,
// answered from the bench's port registers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace benchwire {
class PortClient;
}

namespace ppdevshim {

// N for "/dev/parportN" (N a decimal number below 256), -1 for any other path.
int parport_index(const char *path);

// The bases of the bench's ports, in the order the bench reports them; empty when
// the bench does not answer.
std::vector<uint16_t> bench_port_bases(const std::string &socket_path);

// One open node. Like the Linux driver, the node holds the port only between a
// claim and its release, and keeps its own copy of the control register.
class Node {
public:
    Node(std::string socket_path, int index, uint16_t base);
    ~Node();
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;

    // Serves one ioctl request: 0 on success, -1 with errno set on failure.
    int ioctl(unsigned long request, void *arg);
    bool claimed() const { return port_ != nullptr; }

private:
    int claim();
    void frob_control(uint8_t mask, uint8_t value);
    void data_direction(bool reverse);
    int unserved(unsigned long request);

    std::string socket_;
    int index_;
    uint16_t base_;
    std::unique_ptr<benchwire::PortClient> port_;
    uint8_t control_ = 0;
    int mode_;
    int phase_ = 0;
    int flags_ = 0;
    int64_t timeout_[2] = {0, 0}; // seconds and microseconds
};

} // namespace ppdevshim
