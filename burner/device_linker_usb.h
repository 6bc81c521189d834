#pragma once
// A board on USB, known by its position "bus:port:port...".

#include "device_linker.h"

class DeviceLinkerUSB : public DeviceLinker
{
public:
    // Parses the position; does not touch the board.
    explicit DeviceLinkerUSB(const QString &name);

    quint32 busNumber() const { return m_bus; }
    const quint8 *portPath() const { return m_portPath; }

protected:
    upg_device *openHandle() override;

private:
    quint32 m_bus = 0;
    quint8 m_portPath[7] = {};
};
