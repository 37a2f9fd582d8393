// SPDX-License-Identifier: GPL-3.0-or-later
#include "setupexport.h"

#include "boardsession.h"
#include "dbtext.h"
#include "fieldmath.h"
#include "fieldtext.h"
#include "inttext.h"

namespace evm {

namespace {

constexpr SetupFormatInfo kFormats[] = {
    {SetupFormat::C, "c", "h", "C header with a {register, value} table"},
    {SetupFormat::I2cset, "i2cset", "sh", "shell script of i2cset lines for a Linux I2C bus"},
    {SetupFormat::Python, "python", "py", "PyVISA script that applies the setup through evm5170ctl serve and checks it"},
    {SetupFormat::Json, "json", "json", "JSON: every register and field with its value and meaning"},
    {SetupFormat::Script, "script", "csv", "register script, which the window and evm5170ctl run load"},
};

std::string hex2(int v)
{
    return "0x" + hexText(uint32_t(v), 2);
}

// The bits of a register that its settings occupy: what a check of the setup compares.
uint8_t settingBits(int reg)
{
    unsigned bits = 0;
    for (const RegisterField &f : registerFields())
        if (f.reg == reg && f.kind == FieldKind::Setting)
            bits |= unsigned(fieldMask(f.width)) << f.shift;
    return uint8_t(bits);
}

// "SRDA=0 (Auto), MRST=1 SRST=1 (no reset)": the fields a write sets, each with its meaning.
std::string writeComment(int reg, uint8_t value)
{
    std::string settings;
    std::string triggers;
    for (const RegisterField *f : fieldsOfRegister(reg)) {
        const int v = fieldValue(value, f->shift, f->width);
        const std::string named = f->name + std::string("=") + std::to_string(v);
        if (f->kind == FieldKind::ResetTrigger) {
            triggers += (triggers.empty() ? "" : " ") + named;
            continue;
        }
        const std::string meaning = fieldMeaning(*f, v);
        settings += (settings.empty() ? "" : ", ") + named + (meaning.empty() ? "" : " (" + meaning + ")");
    }
    if (!triggers.empty())
        settings += (settings.empty() ? "" : "; ") + triggers + " (no reset)";
    return settings;
}

// A C comment never ends inside the text it holds.
std::string cCommentSafe(std::string text)
{
    for (size_t at = text.find("*/"); at != std::string::npos; at = text.find("*/", at))
        text.replace(at, 2, "* /");
    return text;
}

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out += "\\u00" + hexText(uint32_t(static_cast<unsigned char>(c)), 2);
            else
                out += c;
        }
    }
    return out + '"';
}

const char *kindText(FieldKind kind)
{
    switch (kind) {
    case FieldKind::StatusFlag: return "status flag";
    case FieldKind::ResetTrigger: return "reset trigger";
    case FieldKind::Setting: break;
    }
    return "setting";
}

std::string headline(const SetupExport &setup, const std::vector<RegisterWrite> &writes)
{
    std::string line = "CDX5170 register setup from " + setup.origin + ", exported by " + setup.program + ": "
                       + std::to_string(writes.size()) + (writes.size() == 1 ? " register" : " registers");
    return line + (setup.changedOnly ? " that differ from the power-on values." : ".");
}

std::string cHeader(const SetupExport &setup, const std::vector<RegisterWrite> &writes)
{
    std::string t = "/* " + cCommentSafe(headline(setup, writes)) + "\n"
                    " *\n"
                    " * Write each {register, value} pair of cdx5170_setup in order, one register write\n"
                    " * each: over IIC to the chip's device address (0x44 to 0x47), or over SPI. The status\n"
                    " * flag registers 0x45 and 0x56 are not written, and register 0x40 goes out with MRST\n"
                    " * and SRST as 1, so the setup starts no reset.\n"
                    " */\n"
                    "#ifndef CDX5170_SETUP_H\n"
                    "#define CDX5170_SETUP_H\n"
                    "\n"
                    "#include <stdint.h>\n"
                    "\n"
                    "#define CDX5170_IIC_ADDRESS "
                    + hex2(setup.iicAddress) + "\n#define CDX5170_SETUP_COUNT " + std::to_string(writes.size()) + "\n"
                    "\n"
                    "struct cdx5170_register_write {\n"
                    "    uint8_t reg;\n"
                    "    uint8_t value;\n"
                    "};\n"
                    "\n";
    if (writes.empty())
        return t + "/* Nothing to write: the one entry is a placeholder, CDX5170_SETUP_COUNT is 0. */\n"
                   "static const struct cdx5170_register_write cdx5170_setup[1] = {{0x00, 0x00}};\n\n#endif\n";
    t += "static const struct cdx5170_register_write cdx5170_setup[CDX5170_SETUP_COUNT] = {\n";
    for (const RegisterWrite &w : writes)
        t += "    {" + hex2(w.reg) + ", " + hex2(w.value) + "}, /* " + cCommentSafe(writeComment(w.reg, w.value)) + " */\n";
    return t + "};\n\n#endif\n";
}

std::string i2csetScript(const SetupExport &setup, const std::vector<RegisterWrite> &writes)
{
    std::string t = "#!/bin/sh\n"
                    "# " + headline(setup, writes) + "\n"
                    "# Writes it with i2cset (i2c-tools) to the chip on a Linux I2C bus:\n"
                    "#\n"
                    "#   sh setup.sh BUS [ADDRESS]\n"
                    "#\n"
                    "# BUS is the number N of /dev/i2c-N (i2cdetect -l lists them), ADDRESS the chip's IIC\n"
                    "# device address, 0x44 to 0x47 (default " + hex2(setup.iicAddress) + "). The first write that fails stops it.\n"
                    "set -e\n"
                    "if [ $# -lt 1 ] || [ $# -gt 2 ]; then\n"
                    "    echo \"usage: $0 BUS [ADDRESS]\" >&2\n"
                    "    exit 2\n"
                    "fi\n"
                    "BUS=$1\n"
                    "ADDR=${2:-" + hex2(setup.iicAddress) + "}\n"
                    "\n";
    for (const RegisterWrite &w : writes)
        t += "i2cset -y \"$BUS\" \"$ADDR\" " + hex2(w.reg) + " " + hex2(w.value) + "  # " + writeComment(w.reg, w.value) + "\n";
    return t;
}

std::string pythonScript(const SetupExport &setup, const std::vector<RegisterWrite> &writes)
{
    std::string t = "#!/usr/bin/env python3\n"
                    "# " + headline(setup, writes) + "\n"
                    "# Applies it through an EVM Controller instrument server (evm5170ctl serve) with PyVISA,\n"
                    "# then reads each register back and checks the bits the setup sets:\n"
                    "#\n"
                    "#   python3 setup.py [RESOURCE [VISA_LIBRARY]]\n"
                    "#\n"
                    "# RESOURCE defaults to TCPIP0::127.0.0.1::5025::SOCKET, VISA_LIBRARY to @py (pyvisa-py).\n"
                    "# Exit status: 0 applied and checked, 1 a register reads back otherwise, 2 the server\n"
                    "# could not be reached or refused a write.\n"
                    "import sys\n"
                    "\n"
                    "import pyvisa\n"
                    "\n"
                    "# (register, value, the bits of its settings), written in this order.\n"
                    "SETUP = [\n";
    for (const RegisterWrite &w : writes)
        t += "    (" + hex2(w.reg) + ", " + hex2(w.value) + ", " + hex2(settingBits(w.reg)) + "),  # "
             + writeComment(w.reg, w.value) + "\n";
    t += "]\n"
         "\n"
         "\n"
         "def main(argv):\n"
         "    resource = argv[1] if len(argv) > 1 else \"TCPIP0::127.0.0.1::5025::SOCKET\"\n"
         "    library = argv[2] if len(argv) > 2 else \"@py\"\n"
         "    try:\n"
         "        inst = pyvisa.ResourceManager(library).open_resource(\n"
         "            resource, read_termination=\"\\n\", write_termination=\"\\n\", timeout=10000)\n"
         "    except Exception as e:\n"
         "        print(f\"cannot open {resource}: {e}\", file=sys.stderr)\n"
         "        return 2\n"
         "    try:\n"
         "        inst.query(\"*CLS;*OPC?\")\n"
         "        for reg, value, _ in SETUP:\n"
         "            inst.write(f\"REG {reg},{value}\")\n"
         "        errors = []\n"
         "        for _ in range(33):  # the error queue holds at most 32\n"
         "            error = inst.query(\"SYST:ERR?\")\n"
         "            if error.startswith(\"0,\"):\n"
         "                break\n"
         "            errors.append(error)\n"
         "        if errors:\n"
         "            print(\"the server refused the setup: \" + \"; \".join(errors), file=sys.stderr)\n"
         "            return 2\n"
         "        wrong = []\n"
         "        for reg, value, bits in SETUP:\n"
         "            got = int(inst.query(f\"REG? {reg}\"))\n"
         "            if (got ^ value) & bits:\n"
         "                wrong.append(f\"0x{reg:02X} reads 0x{got:02X}, the setup has 0x{value:02X}\")\n"
         "        if wrong:\n"
         "            print(\"the chip does not hold the setup: \" + \"; \".join(wrong), file=sys.stderr)\n"
         "            return 1\n"
         "    except pyvisa.Error as e:\n"
         "        print(f\"{resource}: {e}\", file=sys.stderr)\n"
         "        return 2\n"
         "    finally:\n"
         "        inst.close()\n"
         "    print(f\"applied and checked {len(SETUP)} registers\")\n"
         "    return 0\n"
         "\n"
         "\n"
         "if __name__ == \"__main__\":\n"
         "    sys.exit(main(sys.argv))\n";
    return t;
}

std::string jsonText(const SetupExport &setup, const std::vector<RegisterWrite> &writes)
{
    std::string t = "{\n  \"chip\": \"CDX5170\",\n  \"origin\": " + jsonString(setup.origin)
                    + ",\n  \"program\": " + jsonString(setup.program) + ",\n  \"changed_only\": "
                    + (setup.changedOnly ? "true" : "false") + ",\n  \"registers\": [";
    bool firstRegister = true;
    for (int i = 0; i < RegisterCount; ++i) {
        const int reg = FirstRegister + i;
        const uint8_t value = setup.values[size_t(i)];
        const RegisterWrite *write = nullptr;
        for (const RegisterWrite &w : writes)
            if (w.reg == reg)
                write = &w;
        if (setup.changedOnly && !write)
            continue;
        t += std::string(firstRegister ? "" : ",") + "\n    {\"register\": " + std::to_string(reg) + ", \"hex\": \"" + hex2(reg)
             + "\", \"value\": " + std::to_string(value) + ", \"power_on\": " + std::to_string(powerOnValue(reg))
             + ", \"write\": " + (write ? std::to_string(write->value) : std::string("null")) + ", \"fields\": [";
        firstRegister = false;
        bool firstField = true;
        for (const RegisterField *f : fieldsOfRegister(reg)) {
            const int v = fieldValue(value, f->shift, f->width);
            t += std::string(firstField ? "" : ",") + "\n      {\"name\": " + jsonString(f->name) + ", \"bits\": \"" + fieldBitsText(*f)
                 + "\", \"value\": " + std::to_string(v) + ", \"kind\": \"" + kindText(f->kind) + "\"";
            firstField = false;
            if (const auto items = fieldItems(*f); !items.empty())
                t += ", \"item\": "
                     + (size_t(v) < items.size() ? jsonString(items[size_t(v)]) : std::string("null"));
            if (const auto zero = attenuatorZeroDb(*f))
                t += ", \"dB\": " + dbText(v, *zero);
            t += "}";
        }
        t += firstField ? "]}" : "\n    ]}";
    }
    return t + (firstRegister ? "]\n}\n" : "\n  ]\n}\n");
}

std::string registerScript(const std::vector<RegisterWrite> &writes)
{
    // The field values follow as a third field, which a run ignores.
    std::string t;
    for (const RegisterWrite &w : writes)
        t += registerLine(uint32_t(w.reg), w.value) + ", " + fieldValuesText(w.reg, w.value) + "\r\n";
    return t;
}

} // namespace

std::span<const SetupFormatInfo> setupFormats() { return kFormats; }

const SetupFormatInfo *findSetupFormat(std::string_view name)
{
    for (const SetupFormatInfo &f : kFormats)
        if (name == f.name)
            return &f;
    return nullptr;
}

std::vector<RegisterWrite> setupWrites(const RegisterValues &values, bool changedOnly)
{
    std::vector<RegisterWrite> writes;
    for (int i = 0; i < RegisterCount; ++i) {
        const int reg = FirstRegister + i;
        if (isStatusFlagRegister(reg))
            continue;
        const uint8_t value = readModifyWriteBase(reg, values[size_t(i)]);
        if (changedOnly && value == powerOnValue(reg))
            continue;
        writes.push_back({reg, value});
    }
    return writes;
}

std::string setupText(SetupFormat format, const SetupExport &setup)
{
    const std::vector<RegisterWrite> writes = setupWrites(setup.values, setup.changedOnly);
    switch (format) {
    case SetupFormat::C: return cHeader(setup, writes);
    case SetupFormat::I2cset: return i2csetScript(setup, writes);
    case SetupFormat::Python: return pythonScript(setup, writes);
    case SetupFormat::Json: return jsonText(setup, writes);
    case SetupFormat::Script: return registerScript(writes);
    }
    return {};
}

} // namespace evm
