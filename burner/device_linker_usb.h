#pragma once
// A board on USB, known by its position "bus:port:port...".

#include "device_linker.h"
#include "usb_position.h"

class DeviceLinkerUSB : public DeviceLinker
{
public:
    // Parses the position; does not touch the board. A name that is not a
    // position (see parseUsbPosition) gives a link that never opens.
    explicit DeviceLinkerUSB(const QString &name);

    bool positionValid() const { return m_positionValid; }
    quint32 busNumber() const { return m_position.bus; }
    const quint8 *portPath() const { return m_position.ports; }

protected:
    upg_device *openHandle() override;

private:
    bool m_positionValid = false;
    UsbPosition m_position;
};
