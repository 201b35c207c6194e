// A printer without a printer-class node, reached through libusb: its own
// context (so that a printer that came back after its restart is found at
// its new address), the first interface with a bulk OUT and a bulk IN
// endpoint, and bulk transfers on them.
#include <errno.h>
#include <libusb.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "usb_posix_ways.h"

namespace platform::posixusb {

unsigned long ErrnoForLibusb(int code) {
    switch (code) {
        case LIBUSB_ERROR_INVALID_PARAM:
            return EINVAL;
        case LIBUSB_ERROR_ACCESS:
            return EACCES;
        case LIBUSB_ERROR_NO_DEVICE:
            return ENODEV;
        case LIBUSB_ERROR_NOT_FOUND:
            return ENOENT;
        case LIBUSB_ERROR_BUSY:
            return EBUSY;
        case LIBUSB_ERROR_TIMEOUT:
            return ETIMEDOUT;
        case LIBUSB_ERROR_OVERFLOW:
            return EOVERFLOW;
        case LIBUSB_ERROR_PIPE:
            return EPIPE;
        case LIBUSB_ERROR_INTERRUPTED:
            return EINTR;
        case LIBUSB_ERROR_NO_MEM:
            return ENOMEM;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return ENOTSUP;
        default:
            return EIO;
    }
}

namespace {

// Bytes read from the device at a time: whole packets, as many as fit.
constexpr uint32_t kReadChunk = 64 * 1024;
// Bytes written at a time, as on Windows.
constexpr uint32_t kMaxWriteBytes = 1u << 20;

struct ContextDeleter {
    void operator()(libusb_context* c) const { libusb_exit(c); }
};
struct ListDeleter {
    void operator()(libusb_device** l) const { libusb_free_device_list(l, 1); }
};
struct ConfigDeleter {
    void operator()(libusb_config_descriptor* c) const { libusb_free_config_descriptor(c); }
};

// The first interface (alternate setting 0) with bulk endpoints both ways.
bool FindBulkInterface(const libusb_config_descriptor& config, int* number, uint8_t* out,
                       uint8_t* in, uint16_t* inPacket) {
    for (uint8_t i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& iface = config.interface[i];
        if (iface.num_altsetting < 1) continue;
        const libusb_interface_descriptor& alt = iface.altsetting[0];
        int o = -1, n = -1;
        uint16_t packet = 0;
        for (uint8_t e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = alt.endpoint[e];
            if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
                if (n < 0) {
                    n = ep.bEndpointAddress;
                    packet = ep.wMaxPacketSize;
                }
            } else if (o < 0) {
                o = ep.bEndpointAddress;
            }
        }
        if (o >= 0 && n >= 0) {
            *number = alt.bInterfaceNumber;
            *out = static_cast<uint8_t>(o);
            *in = static_cast<uint8_t>(n);
            *inPacket = packet;
            return true;
        }
    }
    return false;
}

}  // namespace

struct CLibusbPrinter::Parts {
    std::unique_ptr<libusb_context, ContextDeleter> context;
    libusb_device_handle* handle = nullptr;
    int interface = -1;  // claimed, or -1
    uint8_t out = 0;
    uint8_t in = 0;
    // Read from the device and not yet taken: buffer[begin, end).
    std::vector<uint8_t> buffer;
    size_t begin = 0;
    size_t end = 0;

    ~Parts() {
        if (handle != nullptr) {
            if (interface >= 0) libusb_release_interface(handle, interface);
            libusb_close(handle);  // gives back a kernel driver that was detached
        }
    }
};

CLibusbPrinter::CLibusbPrinter(std::unique_ptr<Parts> parts) : m_parts(std::move(parts)) {}
CLibusbPrinter::~CLibusbPrinter() = default;

std::unique_ptr<CLibusbPrinter> CLibusbPrinter::Open(uint8_t bus, uint8_t address,
                                                      unsigned long* error) {
    auto parts = std::make_unique<Parts>();
    libusb_context* context = nullptr;
    int r = libusb_init(&context);
    if (r != 0) {
        *error = ErrnoForLibusb(r);
        return nullptr;
    }
    parts->context.reset(context);

    libusb_device** raw = nullptr;
    const ssize_t count = libusb_get_device_list(context, &raw);
    if (count < 0) {
        *error = ErrnoForLibusb(static_cast<int>(count));
        return nullptr;
    }
    std::unique_ptr<libusb_device*, ListDeleter> list(raw);
    libusb_device* device = nullptr;
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_bus_number(raw[i]) == bus && libusb_get_device_address(raw[i]) == address) {
            device = raw[i];
            break;
        }
    }
    if (device == nullptr) {
        *error = ENODEV;
        return nullptr;
    }

    libusb_config_descriptor* rawConfig = nullptr;
    r = libusb_get_active_config_descriptor(device, &rawConfig);
    if (r != 0) {
        *error = ErrnoForLibusb(r);
        return nullptr;
    }
    std::unique_ptr<libusb_config_descriptor, ConfigDeleter> config(rawConfig);
    uint16_t inPacket = 0;
    int number = -1;  // parts->interface stays -1 until it is claimed
    if (!FindBulkInterface(*config, &number, &parts->out, &parts->in, &inPacket)) {
        *error = ENOENT;
        return nullptr;
    }

    r = libusb_open(device, &parts->handle);
    if (r != 0) {
        parts->handle = nullptr;
        *error = ErrnoForLibusb(r);
        return nullptr;
    }
    // A kernel driver other than the printer class may hold the interface;
    // it is detached for the claim and given back when the handle closes.
    libusb_set_auto_detach_kernel_driver(parts->handle, 1);
    r = libusb_claim_interface(parts->handle, number);
    if (r != 0) {
        *error = ErrnoForLibusb(r);
        return nullptr;
    }
    parts->interface = number;

    const uint32_t packet = inPacket != 0 ? inPacket : 512;
    parts->buffer.resize(std::max<uint32_t>(packet, kReadChunk / packet * packet));
    return std::unique_ptr<CLibusbPrinter>(new CLibusbPrinter(std::move(parts)));
}

bool CLibusbPrinter::Write(const void* data, uint32_t n, uint32_t* done, unsigned long* error) {
    Parts& p = *m_parts;
    int sent = 0;
    // At most kMaxWriteBytes at a time, each within the write limit: a
    // printer that stops taking data fails the write instead of holding
    // the updater for ever. Bytes that moved before the limit ran out
    // count (the link sends the rest).
    const uint32_t length = n < kMaxWriteBytes ? n : kMaxWriteBytes;
    const int r = libusb_bulk_transfer(p.handle, p.out,
                                       static_cast<unsigned char*>(const_cast<void*>(data)),
                                       static_cast<int>(length), &sent, UsbWriteTimeoutMs());
    if (r != 0 && !(r == LIBUSB_ERROR_TIMEOUT && sent > 0)) {
        // A stalled endpoint stays stalled until the host clears it.
        if (r == LIBUSB_ERROR_PIPE) libusb_clear_halt(p.handle, p.out);
        *error = ErrnoForLibusb(r);
        return false;
    }
    *done = static_cast<uint32_t>(sent);
    return true;
}

bool CLibusbPrinter::Read(void* data, uint32_t n, uint32_t* done, unsigned long* error) {
    Parts& p = *m_parts;
    if (p.begin == p.end) {
        int got = 0;
        const int r = libusb_bulk_transfer(p.handle, p.in, p.buffer.data(),
                                           static_cast<int>(p.buffer.size()), &got,
                                           UsbReadTimeoutMs());
        // Data that arrived before the limit ran out is data all the same.
        if (r != 0 && !(r == LIBUSB_ERROR_TIMEOUT && got > 0)) {
            if (r == LIBUSB_ERROR_PIPE) libusb_clear_halt(p.handle, p.in);
            *error = ErrnoForLibusb(r);
            return false;
        }
        p.begin = 0;
        p.end = static_cast<size_t>(got);
    }
    const size_t take = std::min<size_t>(n, p.end - p.begin);
    if (take > 0) std::memcpy(data, p.buffer.data() + p.begin, take);
    p.begin += take;
    *done = static_cast<uint32_t>(take);
    return true;
}

}  // namespace platform::posixusb
