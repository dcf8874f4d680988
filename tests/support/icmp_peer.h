// Peers that answer with ICMP of their own making: forged and foreign answers to echo
// requests, for the tests that show which datagrams the engines take for an answer, and a
// firewall's "port unreachable" for a host that is not there.
#pragma once

#include "support/netns.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

// A peer in `space` that watches for echo requests to `target` (or to any address of the
// network `target`/`prefixLength`) and answers each at once from a raw socket with headers
// of its own, as an attacker on the link would: forty
// datagrams that must not pass for the answer (replies with another identifier, another
// sequence or a bad checksum, replies and a request with our numbers from `elsewhere`, an
// unreachable about our request sent elsewhere, a time exceeded about another sequence, and
// other programs' replies too long for the monitor's buffer), then, when asked to, the true
// reply.
class IcmpPeer {
  public:
    enum Mode { FORGE, FORGE_THEN_ANSWER };
    IcmpPeer(const NetworkNamespace& space, const char* target, const char* elsewhere, Mode mode,
             int prefixLength = 32);
    ~IcmpPeer();

    bool ok() const { return ready_.load() > 0; }     // watching, once the constructor returned
    int answered() const { return answered_.load(); } // requests it answered so far

  private:
    void Run(const NetworkNamespace* space);
    void Answer(const unsigned char* request, int length) const;

    std::uint32_t target_, mask_, elsewhere_; // network order
    Mode mode_;
    int sender_ = -1;
    std::atomic<int> ready_{0}; // 1 watching, -1 could not
    std::atomic<int> answered_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A firewall in `space` that answers each TCP connection request to `target` it sees on
// `device` with an ICMP "port unreachable" from its own address, quoting the request, as
// a router rejecting for a host behind it does (whether that host is there or not).
class PortUnreachablePeer {
  public:
    PortUnreachablePeer(const NetworkNamespace& space, const char* device, const char* target);
    ~PortUnreachablePeer();

    bool ok() const { return ready_.load() > 0; }   // watching, once the constructor returned
    int refused() const { return refused_.load(); } // requests it answered so far

  private:
    void Run(const NetworkNamespace* space, std::string device);

    std::uint32_t target_;      // network order
    std::atomic<int> ready_{0}; // 1 watching, -1 could not
    std::atomic<int> refused_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
