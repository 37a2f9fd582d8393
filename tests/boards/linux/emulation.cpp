// SPDX-License-Identifier: GPL-3.0-or-later
// glib's headers use the word "signals", which Qt's headers turn into a macro: glib first.
#include <umockdev.h>

#include "emulation.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/gpio.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/capability.h>
#include <linux/spi/spidev.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr const char *kIicNode = "/dev/i2c-1";
constexpr const char *kSpiNode = "/dev/spidev0.0";

QString hex2(int v)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(v & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

QString gpioNode(int chip)
{
    return QStringLiteral("/dev/gpiochip%1").arg(chip);
}

// The descriptor libgpiod gets back for a line request: a node of its own per chip.
QString handleNode(int chip)
{
    return QStringLiteral("/dev/gpiochip%1-handle").arg(chip);
}

// Client memory that a pointer at offset of data points to, copied here; changes go back to
// the client when the call completes. Empty when it cannot be read.
class Memory
{
public:
    Memory(UMockdevIoctlData *data, size_t offset, size_t length)
    {
        GError *error = nullptr;
        m_data = umockdev_ioctl_data_resolve(data, offset, length, &error);
        if (error)
            g_error_free(error);
    }
    ~Memory()
    {
        if (m_data)
            g_object_unref(m_data);
    }
    Memory(const Memory &) = delete;
    Memory &operator=(const Memory &) = delete;
    explicit operator bool() const { return m_data != nullptr; }
    UMockdevIoctlData *get() const { return m_data; }
    UMockdevIoctlData *operator->() const { return m_data; }

private:
    UMockdevIoctlData *m_data = nullptr;
};

void addNode(UMockdevTestbed *tb, const QString &sysPath, const QString &node, const char *subsystem, const QString &dev)
{
    const QString name = node.mid(5); // after "/dev/"
    const QByteArray text = QStringLiteral("P: %1\nN: %2=00\nE: SUBSYSTEM=%3\nE: DEVNAME=%4\nA: dev=%5\n")
                                .arg(sysPath, name, QLatin1String(subsystem), node, dev)
                                .toUtf8();
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(tb, text.constData(), &error))
        qFatal("umockdev: cannot add %s: %s", qPrintable(node), error ? error->message : "?");
}

} // namespace

struct EmulatedBoard::Handler {
    UMockdevIoctlBase *base = nullptr;
    QString node;
    std::function<int(UMockdevIoctlClient *)> handle;
    std::function<void(UMockdevIoctlClient *)> connected;
    std::vector<UMockdevIoctlClient *> clients;
    EmulatedBoard *board = nullptr;

    static gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
    {
        auto *h = static_cast<Handler *>(self);
        {
            std::lock_guard lock(h->board->m_mutex);
            if (h->board->m_unplugged.contains(h->node)) {
                umockdev_ioctl_client_complete(client, -1, ENODEV);
                return TRUE;
            }
        }
        // The handlers answer with errno, 0 for success, -1 to let the call fall through.
        const int error = h->handle(client);
        if (error < 0)
            return FALSE;
        umockdev_ioctl_client_complete(client, error ? -1 : 0, error);
        return TRUE;
    }

    static void onConnected(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
    {
        auto *h = static_cast<Handler *>(self);
        if (h->connected)
            h->connected(client);
        std::lock_guard lock(h->board->m_mutex);
        h->clients.push_back(static_cast<UMockdevIoctlClient *>(g_object_ref(client)));
    }
};

EmulatedBoard::EmulatedBoard()
{
    if (!qEnvironmentVariableIsSet("UMOCKDEV_DIR") && !qgetenv("LD_PRELOAD").contains("umockdev"))
        qFatal("the device emulation needs umockdev-wrapper (libumockdev-preload)");
    m_testbed = umockdev_testbed_new();
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    m_root = QString::fromLocal8Bit(root);
    g_free(root);

    addNode(m_testbed, QStringLiteral("/devices/platform/i2c-1"), QLatin1String(kIicNode), "i2c-dev", QStringLiteral("89:1"));
    addNode(m_testbed, QStringLiteral("/devices/platform/spi0.0"), QLatin1String(kSpiNode), "spidev", QStringLiteral("153:0"));
    attach(QLatin1String(kIicNode), [this](UMockdevIoctlClient *c) { return handleIic(c); });
    attach(QLatin1String(kSpiNode), [this](UMockdevIoctlClient *c) { return handleSpi(c); });
    for (int chip = 0; chip < kGpioChips; ++chip) {
        const QString sys = QStringLiteral("/devices/platform/gpiochip%1").arg(chip);
        addNode(m_testbed, sys, gpioNode(chip), "gpio", QStringLiteral("254:%1").arg(chip));
        // libgpiod compares the node's numbers with the sysfs "dev" file, newline and all.
        umockdev_testbed_set_attribute(m_testbed, QFile::encodeName(QStringLiteral("/sys") + sys).constData(), "dev",
                                       QStringLiteral("254:%1\n").arg(chip).toUtf8().constData());
        addNode(m_testbed, sys + QStringLiteral("-handle"), handleNode(chip), "gpio-handle", QStringLiteral("253:%1").arg(chip));
        attach(gpioNode(chip), [this, chip](UMockdevIoctlClient *c) { return handleGpioChip(chip, c); });
        attach(handleNode(chip), [this, chip](UMockdevIoctlClient *c) { return handleGpioLine(chip, c); });
        m_handlers.back()->connected = [this, chip](UMockdevIoctlClient *c) { takeHandle(chip, c); };
    }
}

EmulatedBoard::~EmulatedBoard()
{
    for (const auto &h : m_handlers) {
        GError *error = nullptr;
        umockdev_testbed_detach_ioctl(m_testbed, QFile::encodeName(h->node).constData(), &error);
        if (error)
            g_error_free(error);
        for (UMockdevIoctlClient *c : h->clients)
            g_object_unref(c);
        g_signal_handlers_disconnect_by_data(h->base, h.get());
        g_object_unref(h->base);
    }
    g_object_unref(m_testbed);
}

void EmulatedBoard::attach(const QString &node, std::function<int(UMockdevIoctlClient *)> handler)
{
    auto h = std::make_unique<Handler>();
    h->base = umockdev_ioctl_base_new();
    h->node = node;
    h->handle = std::move(handler);
    h->board = this;
    g_signal_connect(h->base, "handle-ioctl", G_CALLBACK(Handler::onIoctl), h.get());
    g_signal_connect(h->base, "client-connected", G_CALLBACK(Handler::onConnected), h.get());
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_testbed, QFile::encodeName(node).constData(), h->base, &error))
        qFatal("umockdev: cannot attach to %s: %s", qPrintable(node), error ? error->message : "?");
    m_handlers.push_back(std::move(h));
}

int EmulatedBoard::handleIic(UMockdevIoctlClient *client)
{
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
    case I2C_SLAVE:
    case I2C_SLAVE_FORCE: {
        unsigned long address = 0;
        std::memcpy(&address, arg->data, sizeof address);
        if (address > 0x7F)
            return EINVAL;
        g_object_set_data(G_OBJECT(client), "address", GINT_TO_POINTER(int(address) + 1));
        return 0;
    }
    case I2C_FUNCS: {
        Memory funcs(arg, 0, sizeof(unsigned long));
        if (!funcs)
            return EFAULT;
        const unsigned long f = I2C_FUNC_I2C | I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_QUICK;
        std::memcpy(funcs->data, &f, sizeof f);
        return 0;
    }
    case I2C_SMBUS: {
        Memory request(arg, 0, sizeof(i2c_smbus_ioctl_data));
        if (!request)
            return EFAULT;
        i2c_smbus_ioctl_data head;
        std::memcpy(&head, request->data, sizeof head);
        Memory payload(request.get(), offsetof(i2c_smbus_ioctl_data, data), sizeof(i2c_smbus_data));
        if (!payload || head.size != I2C_SMBUS_BYTE_DATA)
            return EINVAL;
        const int address = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(client), "address")) - 1;
        std::lock_guard lock(m_mutex);
        const bool read = head.read_write == I2C_SMBUS_READ;
        const QString what = QStringLiteral("iic %1 %2 %3").arg(hex2(address), read ? QStringLiteral("read") : QStringLiteral("write"), hex2(head.command));
        if (address != m_iicAddress) {
            m_transfers << what + QStringLiteral(" nack");
            return ENXIO;
        }
        // The chip answers at its address; registers it does not have read 0 and ignore writes.
        if (read) {
            payload->data[0] = ostrel::Chip::isRegister(head.command) ? m_chip.read(head.command) : 0;
            m_transfers << what + QStringLiteral(" = ") + hex2(payload->data[0]);
        } else {
            if (ostrel::Chip::isRegister(head.command))
                m_chip.write(head.command, payload->data[0]);
            m_transfers << what + QStringLiteral(" = ") + hex2(payload->data[0]);
        }
        return 0;
    }
    default:
        return ENOTTY;
    }
}

int EmulatedBoard::handleSpi(UMockdevIoctlClient *client)
{
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    std::lock_guard lock(m_mutex);
    if (_IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 && _IOC_DIR(request) == _IOC_WRITE) {
        const size_t count = _IOC_SIZE(request) / sizeof(spi_ioc_transfer);
        Memory array(arg, 0, count * sizeof(spi_ioc_transfer));
        if (!array)
            return EFAULT;
        for (size_t i = 0; i < count; ++i) {
            spi_ioc_transfer t;
            std::memcpy(&t, array->data + i * sizeof t, sizeof t);
            const int at = int(i * sizeof t);
            Memory tx(array.get(), at + offsetof(spi_ioc_transfer, tx_buf), t.len);
            Memory rx(array.get(), at + offsetof(spi_ioc_transfer, rx_buf), t.len);
            if (t.len != 2 || !tx || !rx)
                return EINVAL;
            // The chip's frame: register with bit 7 set for a read, then the value either way.
            const uint8_t first = tx->data[0];
            const int reg = first & 0x7F;
            rx->data[0] = 0;
            if (first & 0x80)
                rx->data[1] = ostrel::Chip::isRegister(reg) ? m_chip.read(reg) : 0;
            else {
                rx->data[1] = 0;
                if (ostrel::Chip::isRegister(reg))
                    m_chip.write(reg, tx->data[1]);
            }
            m_transfers << QStringLiteral("spi %1 %2 -> %3 %4").arg(hex2(tx->data[0]), hex2(tx->data[1]), hex2(rx->data[0]), hex2(rx->data[1]));
        }
        return 0;
    }
    const auto setting = [&](const char *name, size_t size) {
        Memory value(arg, 0, size);
        if (!value)
            return EFAULT;
        uint32_t v = 0;
        std::memcpy(&v, value->data, size);
        m_transfers << QStringLiteral("spi %1 %2").arg(QLatin1String(name)).arg(v);
        return 0;
    };
    switch (request) {
    case SPI_IOC_WR_MODE: return setting("mode", 1);
    case SPI_IOC_WR_MODE32: return setting("mode", 4);
    case SPI_IOC_WR_BITS_PER_WORD: return setting("bits", 1);
    case SPI_IOC_WR_MAX_SPEED_HZ: return setting("speed", 4);
    default: return ENOTTY;
    }
}

int EmulatedBoard::handleGpioChip(int chip, UMockdevIoctlClient *client)
{
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
    case GPIO_GET_CHIPINFO_IOCTL: {
        Memory out(arg, 0, sizeof(gpiochip_info));
        if (!out)
            return EFAULT;
        gpiochip_info info{};
        std::snprintf(info.name, sizeof info.name, "gpiochip%d", chip);
        std::snprintf(info.label, sizeof info.label, "emulated-%d", chip);
        info.lines = kGpioLines;
        std::memcpy(out->data, &info, sizeof info);
        return 0;
    }
    case GPIO_GET_LINEINFO_IOCTL: {
        Memory out(arg, 0, sizeof(gpioline_info));
        if (!out)
            return EFAULT;
        gpioline_info info;
        std::memcpy(&info, out->data, sizeof info);
        if (info.line_offset >= kGpioLines)
            return EINVAL;
        std::lock_guard lock(m_mutex);
        const Line &line = m_lines[chip][info.line_offset];
        info.flags = line.level >= 0 ? GPIOLINE_FLAG_KERNEL | GPIOLINE_FLAG_IS_OUT : line.busy ? GPIOLINE_FLAG_KERNEL : 0;
        std::memset(info.name, 0, sizeof info.name);
        std::memset(info.consumer, 0, sizeof info.consumer);
        std::memcpy(out->data, &info, sizeof info);
        return 0;
    }
    case GPIO_GET_LINEHANDLE_IOCTL: {
        Memory out(arg, 0, sizeof(gpiohandle_request));
        if (!out)
            return EFAULT;
        gpiohandle_request req;
        std::memcpy(&req, out->data, sizeof req);
        if (req.lines == 0 || req.lines > GPIOHANDLES_MAX)
            return EINVAL;
        std::vector<int> offsets;
        {
            std::lock_guard lock(m_mutex);
            sweepReleasedHandles();
            for (unsigned i = 0; i < req.lines; ++i) {
                if (req.lineoffsets[i] >= kGpioLines)
                    return EINVAL;
                if (m_lines[chip][req.lineoffsets[i]].busy)
                    return EBUSY;
            }
            // A line an earlier handle of ours still holds is taken over: its close may not
            // have reached the emulation yet (a kernel would have seen it already).
            const int handle = ++m_lastHandle;
            const bool output = req.flags & GPIOHANDLE_REQUEST_OUTPUT;
            const QString consumer = QString::fromUtf8(req.consumer_label, int(strnlen(req.consumer_label, sizeof req.consumer_label)));
            for (unsigned i = 0; i < req.lines; ++i) {
                const int offset = int(req.lineoffsets[i]);
                Line &line = m_lines[chip][offset];
                line.level = output ? (req.default_values[i] ? 1 : 0) : 0;
                line.handle = handle;
                offsets.push_back(offset);
                m_lineEvents << QStringLiteral("gpiochip%1 %2 request %3 %4 %5")
                                    .arg(chip).arg(offset).arg(output ? QStringLiteral("output") : QStringLiteral("input"))
                                    .arg(line.level).arg(consumer);
                if (line.boardLine >= 0)
                    m_chip.driveLine(line.boardLine, uint8_t(line.level));
            }
            m_pendingHandles.push_back({chip, handle, offsets});
        }
        // The handle is a descriptor of this process, so only a library loaded here can use it.
        const int fd = ::open(QFile::encodeName(handleNode(chip)).constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return errno;
        req.fd = fd;
        std::memcpy(out->data, &req, sizeof req);
        return 0;
    }
    default:
        return ENOTTY;
    }
}

void EmulatedBoard::takeHandle(int chip, UMockdevIoctlClient *client)
{
    // Handles connect in the order the request handler opened them.
    std::lock_guard lock(m_mutex);
    for (auto it = m_pendingHandles.begin(); it != m_pendingHandles.end(); ++it) {
        if (it->chip != chip)
            continue;
        auto *held = new std::vector<int>(it->offsets);
        g_object_set_data(G_OBJECT(client), "handle", GINT_TO_POINTER(it->handle));
        m_pendingHandles.erase(it);
        g_object_set_data_full(G_OBJECT(client), "lines", held, [](gpointer p) { delete static_cast<std::vector<int> *>(p); });
        g_object_set_data(G_OBJECT(client), "chip", GINT_TO_POINTER(chip));
        return;
    }
}

void EmulatedBoard::sweepReleasedHandles()
{
    // umockdev 0.17 announces no closed descriptor, so a closed handle is noticed here.
    for (const auto &h : m_handlers) {
        for (UMockdevIoctlClient *c : h->clients) {
            auto *lines = static_cast<std::vector<int> *>(g_object_get_data(G_OBJECT(c), "lines"));
            if (!lines || lines->empty() || umockdev_ioctl_client_get_connected(c))
                continue;
            const int chip = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(c), "chip"));
            const int handle = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(c), "handle"));
            for (int offset : *lines) {
                Line &line = m_lines[chip][offset];
                if (line.handle == handle) {
                    line.level = -1;
                    line.handle = 0;
                }
                m_lineEvents << QStringLiteral("gpiochip%1 %2 released").arg(chip).arg(offset);
            }
            lines->clear();
        }
    }
}

int EmulatedBoard::handleGpioLine(int chip, UMockdevIoctlClient *client)
{
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(m_mutex);
    auto *held = static_cast<std::vector<int> *>(g_object_get_data(G_OBJECT(client), "lines"));
    if (!held)
        return EBADF;
    switch (umockdev_ioctl_client_get_request(client)) {
    case GPIOHANDLE_SET_LINE_VALUES_IOCTL: {
        Memory in(arg, 0, sizeof(gpiohandle_data));
        if (!in)
            return EFAULT;
        gpiohandle_data values;
        std::memcpy(&values, in->data, sizeof values);
        for (size_t i = 0; i < held->size(); ++i) {
            Line &line = m_lines[chip][(*held)[i]];
            line.level = values.values[i] ? 1 : 0;
            m_lineEvents << QStringLiteral("gpiochip%1 %2 = %3").arg(chip).arg((*held)[i]).arg(line.level);
            if (line.boardLine >= 0)
                m_chip.driveLine(line.boardLine, uint8_t(line.level));
        }
        return 0;
    }
    case GPIOHANDLE_GET_LINE_VALUES_IOCTL: {
        Memory out(arg, 0, sizeof(gpiohandle_data));
        if (!out)
            return EFAULT;
        gpiohandle_data values{};
        for (size_t i = 0; i < held->size(); ++i)
            values.values[i] = uint8_t(std::max(0, m_lines[chip][(*held)[i]].level));
        std::memcpy(out->data, &values, sizeof values);
        return 0;
    }
    default:
        return ENOTTY;
    }
}

void EmulatedBoard::setIicAddress(int address)
{
    std::lock_guard lock(m_mutex);
    m_iicAddress = address;
}

QStringList EmulatedBoard::transfers()
{
    std::lock_guard lock(m_mutex);
    return m_transfers;
}

QStringList EmulatedBoard::registerTransfers()
{
    QStringList out;
    for (const QString &t : transfers())
        if (t.startsWith(QLatin1String("iic ")) || t.startsWith(QLatin1String("spi 0x")))
            out << t;
    return out;
}

void EmulatedBoard::clearTransfers()
{
    std::lock_guard lock(m_mutex);
    m_transfers.clear();
}

QStringList EmulatedBoard::lineEvents()
{
    std::lock_guard lock(m_mutex);
    sweepReleasedHandles();
    return m_lineEvents;
}

void EmulatedBoard::clearLineEvents()
{
    std::lock_guard lock(m_mutex);
    m_lineEvents.clear();
}

int EmulatedBoard::level(int chip, int offset)
{
    std::lock_guard lock(m_mutex);
    sweepReleasedHandles();
    return m_lines[chip][offset].level;
}

void EmulatedBoard::setBusy(int chip, int offset)
{
    std::lock_guard lock(m_mutex);
    m_lines[chip][offset].busy = true;
}

void EmulatedBoard::wire(int chip, int offset, int boardLine)
{
    std::lock_guard lock(m_mutex);
    m_lines[chip][offset].boardLine = boardLine;
}

void EmulatedBoard::withChip(const std::function<void(ostrel::Chip &)> &body)
{
    std::lock_guard lock(m_mutex);
    body(m_chip);
}

int EmulatedBoard::chipRegister(int reg)
{
    std::lock_guard lock(m_mutex);
    return m_chip.read(reg);
}

void EmulatedBoard::unplug(const QString &node)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_unplugged.contains(node))
            m_unplugged << node;
    }
    QFile::rename(nodeFile(node), nodeFile(node) + QStringLiteral(".unplugged"));
}

void EmulatedBoard::plugIn(const QString &node)
{
    QFile::rename(nodeFile(node) + QStringLiteral(".unplugged"), nodeFile(node));
    std::lock_guard lock(m_mutex);
    m_unplugged.removeAll(node);
}

QString EmulatedBoard::nodeFile(const QString &node) const
{
    return m_root + node;
}

int EmulatedBoard::openClients(const QString &node)
{
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const auto &h : m_handlers)
        if (h->node == node)
            for (UMockdevIoctlClient *c : h->clients)
                n += umockdev_ioctl_client_get_connected(c) ? 1 : 0;
    return n;
}

void runUnderDeviceEmulation(char **argv)
{
    const QByteArray preload = qgetenv("LD_PRELOAD");
    if (preload.contains("libumockdev-preload"))
        return;
    qputenv("LD_PRELOAD", "libumockdev-preload.so.0" + (preload.isEmpty() ? QByteArray() : ":" + preload));
#if defined(__SANITIZE_ADDRESS__)
    // The preload comes before the sanitizer's runtime, which it would otherwise refuse.
    const QByteArray options = qgetenv("ASAN_OPTIONS");
    qputenv("ASAN_OPTIONS", (options.isEmpty() ? QByteArray() : options + ":") + "verify_asan_link_order=0");
#endif
    ::execv("/proc/self/exe", argv);
    qFatal("cannot run %s under libumockdev-preload: %s", argv[0], std::strerror(errno));
}

StandardErrorCapture::StandardErrorCapture()
{
    std::fflush(stderr);
    char name[] = "/tmp/evm-stderr-XXXXXX";
    m_file = ::mkstemp(name);
    if (m_file < 0)
        qFatal("cannot capture standard error: %s", std::strerror(errno));
    ::unlink(name);
    m_saved = ::dup(STDERR_FILENO);
    ::dup2(m_file, STDERR_FILENO);
}

StandardErrorCapture::~StandardErrorCapture()
{
    std::fflush(stderr);
    ::dup2(m_saved, STDERR_FILENO);
    ::close(m_saved);
    ::close(m_file);
}

QString StandardErrorCapture::text()
{
    std::fflush(stderr);
    QByteArray out;
    char chunk[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(m_file, chunk, sizeof chunk, at);
        if (n <= 0)
            break;
        out.append(chunk, n);
        at += n;
    }
    return QString::fromLocal8Bit(out);
}

WithoutFileOverride::WithoutFileOverride()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return;
    m_effective[0] = data[0].effective;
    m_effective[1] = data[1].effective;
    const uint32_t drop = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    if (!(data[0].effective & drop))
        return;
    data[0].effective &= ~drop;
    m_changed = ::syscall(SYS_capset, &header, data) == 0;
}

WithoutFileOverride::~WithoutFileOverride()
{
    if (!m_changed)
        return;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    ::syscall(SYS_capget, &header, data);
    data[0].effective = m_effective[0];
    data[1].effective = m_effective[1];
    ::syscall(SYS_capset, &header, data);
}
