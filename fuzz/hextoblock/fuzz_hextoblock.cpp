// TDevice::HexToBlock on arbitrary text: the first byte picks the block type, the rest is the
// text (UTF-8). A text is either taken whole, and then reads back the same through BlockToHex,
// or refused, and then the block is as it was.
#include "setup/instrument/device_u.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static TDevice device;
    if (size == 0)
        return 0;
    const int type = int(data[0] % 6) - 1;  // -1 to 4: every block and one beyond each end
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    QString before;
    device.BlockToHex(type, before);
    bool taken = false;
    try {
        taken = device.HexToBlock(type, text) == 0;
    } catch (const TConvertError &e) {
        if (e.Text().size() != 2 || !text.contains(e.Text()))
            std::abort();
    }
    QString after;
    device.BlockToHex(type, after);
    if (taken ? after != text.toUpper() : after != before)
        std::abort();
    return 0;
}
