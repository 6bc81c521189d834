// One USB gadget of the kernel (configfs) whose only function is a FunctionFS
// interface served by this process: the device side of a virtual board on a
// real USB bus (in the test machine, a dummy_hcd host and device controller).
#pragma once

#include <cstdint>
#include <string>

namespace vboard
{

struct GadgetIdentity {
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint8_t deviceClass = 0;
    uint8_t interfaceClass = 0xff;
    std::string manufacturer;
    std::string productName;
    std::string serial;
};

class FfsGadget
{
public:
    // `name` names the configfs gadget, the function instance and the
    // FunctionFS mount below `runDir`; `udc` is the device controller to bind.
    FfsGadget(const std::string &name, const std::string &udc, const std::string &runDir);
    ~FfsGadget();
    FfsGadget(const FfsGadget &) = delete;
    FfsGadget &operator=(const FfsGadget &) = delete;

    // Creates the gadget (one configuration, one interface with one bulk IN
    // and one bulk OUT endpoint), mounts its FunctionFS, writes the
    // descriptors and opens the endpoint files. Not bound yet.
    bool create(const GadgetIdentity &identity, std::string *error);
    // Connects the gadget to its controller (the host sees a new device) or
    // disconnects it (the host sees it leave).
    bool bind(std::string *error);
    bool unbind(std::string *error);
    // Stalls both bulk endpoints: the host's pending or next transfer on
    // either fails with a stall until it clears the halt.
    void halt();

    int ep0() const { return m_ep0; }
    int inFd() const { return m_in; }
    int outFd() const { return m_out; }

private:
    std::string m_name;
    std::string m_udc;
    std::string m_gadgetDir;
    std::string m_mountDir;
    int m_ep0 = -1;
    int m_in = -1;
    int m_out = -1;
    int m_inHalt = -1; // non-blocking twins of the endpoint files, for halting
    int m_outHalt = -1;
};

} // namespace vboard
