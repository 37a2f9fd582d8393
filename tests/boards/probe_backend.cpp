// SPDX-License-Identifier: GPL-3.0-or-later
// A backend that only records what reaches it, so tst_shim can tell what the shim stopped
// and what it let through. Its shimprobe_* calls steer it from the test.

#include "ostrel_shim.h"

#include <cstdio>
#include <string>

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

class Probe final : public ostrel::Backend {
public:
    bool link = true;
    std::string calls;
    std::string traces;

    const char *name() const override { return "PROBE"; }

    int32_t open(int32_t port, const OstrelConnectionSettings &settings) override
    {
        note("open(%d, %d, 0x%02X, %d)", port, settings.interfaceCode, unsigned(settings.deviceAddress), settings.word56);
        return settings.interfaceCode == OSTREL_INTERFACE_IIC ? 5 : 0;
    }
    void close() override { note("close"); }
    int32_t readRegister(int32_t reg, uint8_t &value) override
    {
        note("read(0x%02X)", unsigned(reg));
        if (reg == 0x99)
            return 0x0777;
        value = uint8_t(reg ^ 0xFF);
        return OSTREL_OK;
    }
    int32_t writeRegister(int32_t reg, uint8_t value) override
    {
        note("write(0x%02X, 0x%02X)", unsigned(reg), value);
        return reg == 0x99 ? 0x0777 : OSTREL_OK;
    }
    int32_t writeLine(int32_t line, uint8_t level) override
    {
        note("line(%d, %d)", line, level);
        return OSTREL_OK;
    }
    int32_t version() override { return 0x0203; }
    bool connected() const override { return link; }
    void traced(const std::string &line) override { traces += line + '\n'; }
    std::string lastError() const override { return link ? std::string() : std::string("the probe's link is down"); }

private:
    template <typename... Args>
    void note(const char *format, Args... args)
    {
        char text[128];
        std::snprintf(text, sizeof text, format, args...);
        calls += text;
        calls += '\n';
    }
};

Probe &probe()
{
    static Probe instance;
    return instance;
}

} // namespace

ostrel::Backend &ostrel::backend()
{
    return probe();
}

PROBE_EXPORT const char *shimprobe_calls(void)
{
    return probe().calls.c_str();
}

PROBE_EXPORT const char *shimprobe_traces(void)
{
    return probe().traces.c_str();
}

PROBE_EXPORT void shimprobe_set_connected(int connected)
{
    probe().link = connected != 0;
}
