// USB printers on Windows: the device set of the USB device interface class
// through SetupAPI, and file I/O on the device path.
//
// The device is opened for overlapped I/O only so that a transfer can give
// up: every transfer still waits for its own completion before it returns,
// but a read that has had no data for UsbReadTimeoutMs(), or a write that
// the device has not taken within UsbWriteTimeoutMs(), is cancelled and
// fails with ERROR_TIMEOUT (a printer that stops answering must not hang
// the updater for ever). A wait that fails is a failure too, with the
// wait's own error code.
//
// Transfers move through a buffer that belongs to the open device, not
// through the caller's: a cancelled transfer may complete later than its
// cancellation, and until it has, the system may still write into its
// buffer and its OVERLAPPED. A device whose cancelled transfer never
// completes is therefore never freed.
#include <windows.h>
#include <setupapi.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/usb.h"

namespace platform {
namespace {

// GUID_DEVINTERFACE_USB_DEVICE.
const GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

constexpr DWORD kInstanceIdChars = 260;

std::string ToUtf8(const wchar_t* wide) {
    std::string text;
    if (wide == nullptr || *wide == L'\0') return text;
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return text;
    text.resize(static_cast<size_t>(n));
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), n, nullptr, nullptr);
    text.resize(static_cast<size_t>(n - 1));
    return text;
}

bool ToWide(const std::string& text, std::wstring* wide) {
    wide->clear();
    if (text.empty()) return false;
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                        static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return false;
    wide->resize(static_cast<size_t>(n));
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                 static_cast<int>(text.size()), wide->data(), n) == n;
}

struct DeviceSet {
    HDEVINFO set;
    ~DeviceSet() {
        if (set != INVALID_HANDLE_VALUE) ::SetupDiDestroyDeviceInfoList(set);
    }
};

// An open device: the file, the event its transfers complete on, and the
// OVERLAPPED and buffer of its one transfer at a time.
struct Device {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED ov{};
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t capacity = 0;
    // A cancelled transfer has not completed yet.
    bool pending = false;
};

// Bytes one transfer call moves at most (the link repeats the call until
// everything has moved).
constexpr uint32_t kMaxTransferBytes = 1u << 20;
// How long a cancelled transfer is given to complete.
constexpr DWORD kCancelWaitMs = 5000;

// Waits up to ms for the device's transfer to complete; true once it has,
// with its outcome in *ok, *moved and *error.
bool Settle(Device* d, DWORD ms, bool* ok, DWORD* moved, unsigned long* error) {
    if (::WaitForSingleObject(d->event, ms) != WAIT_OBJECT_0) return false;
    d->pending = false;
    *ok = ::GetOverlappedResult(d->file, &d->ov, moved, FALSE) != FALSE;
    if (!*ok) *error = ::GetLastError();
    return true;
}

// Frees a device once the system holds none of its transfers.
void Release(Device* d) {
    if (d->file != INVALID_HANDLE_VALUE) ::CloseHandle(d->file);  // cancels what is left
    d->file = INVALID_HANDLE_VALUE;
    if (d->pending && ::WaitForSingleObject(d->event, kCancelWaitMs) != WAIT_OBJECT_0)
        return;  // the system still holds its OVERLAPPED and buffer: never freed
    if (d->event != nullptr) ::CloseHandle(d->event);
    delete d;
}

Device* AsDevice(DeviceHandle h) { return reinterpret_cast<Device*>(h); }

// The device path of the set's interface number `ordinal`; false with
// *error when there is no such interface. An interface whose detail cannot
// be read leaves *path empty.
bool InterfacePath(HDEVINFO set, DWORD ordinal, std::string* path, unsigned long* error) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbDeviceInterface, ordinal, &data)) {
        *error = ::GetLastError();
        return false;
    }
    DWORD size = 0;
    ::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return true;
    std::vector<uint8_t> buffer(size, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (::SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr))
        *path = ToUtf8(detail->DevicePath);
    return true;
}

std::string Location(HDEVINFO set, SP_DEVINFO_DATA* info) {
    wchar_t text[256] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(set, info, SPDRP_LOCATION_INFORMATION, nullptr,
                                             reinterpret_cast<BYTE*>(text), sizeof text - 2,
                                             nullptr))
        return "";
    return ToUtf8(text);
}

// The last part of an instance id is the device's serial number when it has
// one; the system makes one up (with '&' in it) otherwise.
std::string SerialOf(const std::string& instanceId) {
    const size_t slash = instanceId.rfind('\\');
    if (slash == std::string::npos) return "";
    const std::string last = instanceId.substr(slash + 1);
    return last.find('&') == std::string::npos ? last : "";
}

class Win32Usb : public UsbBackend {
public:
    bool ListDevices(std::vector<UsbMember>* members, unsigned long* error) override {
        members->clear();
        DeviceSet devices{::SetupDiGetClassDevsW(&kUsbDeviceInterface, nullptr, nullptr,
                                                 DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)};
        if (devices.set == INVALID_HANDLE_VALUE) {
            *error = ::GetLastError();
            return false;
        }
        for (DWORD i = 0;; ++i) {
            SP_DEVINFO_DATA info{};
            info.cbSize = sizeof info;
            if (!::SetupDiEnumDeviceInfo(devices.set, i, &info)) break;
            UsbMember m;
            wchar_t id[kInstanceIdChars] = {};
            if (!::SetupDiGetDeviceInstanceIdW(devices.set, &info, id, kInstanceIdChars, nullptr)) {
                // The search cannot go past a member it cannot name.
                m.idReadable = false;
                m.idError = ::GetLastError();
                members->push_back(std::move(m));
                break;
            }
            m.instanceId = ToUtf8(id);
            unsigned long interfaceError = 0;
            if (!InterfacePath(devices.set, i, &m.path, &interfaceError)) {
                m.interfaceFound = false;
                m.interfaceError = interfaceError;
            }
            if (!m.path.empty()) m.wayIn = "device interface";
            m.location = Location(devices.set, &info);
            m.serial = SerialOf(m.instanceId);
            members->push_back(std::move(m));
        }
        return true;
    }

    bool Open(const std::string& path, DeviceHandle* handle, unsigned long* error) override {
        *handle = kInvalidDevice;
        std::wstring wide;
        if (!ToWide(path, &wide)) {
            *error = ERROR_INVALID_NAME;
            return false;
        }
        Device* device = new (std::nothrow) Device;
        if (device == nullptr) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        device->file =
            ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (device->file == INVALID_HANDLE_VALUE) {
            *error = ::GetLastError();
            Release(device);
            return false;
        }
        device->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (device->event == nullptr) {
            *error = ::GetLastError();
            Release(device);
            return false;
        }
        *handle = reinterpret_cast<DeviceHandle>(device);
        return true;
    }

    bool Write(DeviceHandle h, const void* data, uint32_t n, uint32_t* done,
               unsigned long* error) override {
        return Transfer(AsDevice(h), const_cast<void*>(data), n, done, error, true,
                        UsbWriteTimeoutMs());
    }

    bool Read(DeviceHandle h, void* data, uint32_t n, uint32_t* done,
              unsigned long* error) override {
        return Transfer(AsDevice(h), data, n, done, error, false, UsbReadTimeoutMs());
    }

    void Close(DeviceHandle h) override {
        if (h != kInvalidDevice) Release(AsDevice(h));
    }

private:
    static bool Transfer(Device* d, void* data, uint32_t n, uint32_t* done, unsigned long* error,
                         bool writing, DWORD timeoutMs) {
        bool ok = false;
        DWORD moved = 0;
        // A transfer given up on earlier must have completed before the
        // device's buffer can carry another one.
        if (d->pending && !Settle(d, 0, &ok, &moved, error)) {
            *error = ERROR_BUSY;
            return false;
        }
        const uint32_t length = n < kMaxTransferBytes ? n : kMaxTransferBytes;
        if (d->capacity < length) {
            d->buffer.reset(new (std::nothrow) uint8_t[length]);
            d->capacity = d->buffer ? length : 0;
            if (!d->buffer) {
                *error = ERROR_NOT_ENOUGH_MEMORY;
                return false;
            }
        }
        if (writing) memcpy(d->buffer.get(), data, length);
        d->ov = OVERLAPPED{};
        d->ov.hEvent = d->event;
        ::ResetEvent(d->event);
        const BOOL started = writing
                                 ? ::WriteFile(d->file, d->buffer.get(), length, nullptr, &d->ov)
                                 : ::ReadFile(d->file, d->buffer.get(), length, nullptr, &d->ov);
        if (!started && ::GetLastError() != ERROR_IO_PENDING) {
            *error = ::GetLastError();
            return false;
        }
        d->pending = true;
        const DWORD waited = ::WaitForSingleObject(d->event, timeoutMs);
        if (waited == WAIT_OBJECT_0) {
            Settle(d, 0, &ok, &moved, error);
        } else {
            // Out of time, or the wait itself failed: give the transfer up.
            const unsigned long why =
                waited == WAIT_TIMEOUT  ? static_cast<unsigned long>(ERROR_TIMEOUT)
                : waited == WAIT_FAILED ? ::GetLastError()
                                        : static_cast<unsigned long>(ERROR_INVALID_HANDLE);
            ::CancelIoEx(d->file, &d->ov);
            // It may still have completed in the meantime: then its bytes
            // count (a read's bytes would otherwise be lost to the stream).
            if (!Settle(d, kCancelWaitMs, &ok, &moved, error) || !ok) {
                *error = why;
                return false;
            }
        }
        if (!ok) return false;
        if (!writing) memcpy(data, d->buffer.get(), moved);
        *done = moved;
        return true;
    }
};

}  // namespace

// Never destroyed: the link object closes its device through it during
// static destruction.
UsbBackend& PlatformUsbBackend() {
    static Win32Usb* backend = new Win32Usb;
    return *backend;
}

unsigned long UsbTimeoutError() { return ERROR_TIMEOUT; }

}  // namespace platform
