// SPDX-License-Identifier: GPL-3.0-or-later
// The remote board library's commands: each is one entry of the library, run on the server's
// board session, with the library's own result codes passed through in the answer.
#include "scpi/commands.h"

#include "scpi/errors.h"
#include "scpi/remote_protocol.h"

namespace evm::scpi {

namespace {

int32_t word(const Call &c, size_t index)
{
    return int32_t(c.integer(index, INT32_MIN, INT32_MAX));
}

void openQuery(Call &c)
{
    const int32_t interfaceCode = word(c, 0);
    const int32_t address = word(c, 1);
    const int32_t port = c.params.size() > 2 ? word(c, 2) : 0;
    std::string refusal;
    const int32_t opened = c.board.open(port, interfaceCode, address, refusal);
    c.answer(std::to_string(opened));
    // The answer is what a library's _init would answer; the queue says why it is 0.
    if (!refusal.empty())
        fail(SettingsConflict, refusal);
    if (opened == 0)
        fail(HardwareError, "the board library found no board");
}

void closeBoard(Call &c)
{
    c.board.close();
}

void readQuery(Call &c)
{
    const int32_t channel = word(c, 0);
    const int32_t reg = word(c, 1);
    const BoardSession::Access a = c.session().readData(channel, reg);
    c.answer(std::to_string(a.code) + ',' + std::to_string(a.value));
}

void writeQuery(Call &c)
{
    const int32_t channel = word(c, 0);
    const int32_t target = word(c, 1);
    const auto value = uint8_t(c.integer(2, 0, 255));
    c.answer(std::to_string(c.session().writeData(channel, target, value)));
}

void versionQuery(Call &c)
{
    c.answer(std::to_string(c.session().version()));
}

using namespace rows;
constexpr CommandRow kBoard[] = {
    // A hold on the board keeps others from reopening it, and a reopen changes it for all.
    {remote::Open, 2, 3, Shared, 0, openQuery, "INTERFACE,ADDRESS[,PORT]"},
    {remote::Close, 0, 0, Shared, None, closeBoard, nullptr},
    {remote::Read, 2, 2, Own, None, readQuery, "CHANNEL,REG"},
    {remote::Write, 3, 3, Shared, ReadOnlyWriteCode, writeQuery, "CHANNEL,TARGET,VALUE"},
    {remote::Version, 0, 0, Own, None, versionQuery, nullptr},
};

} // namespace

std::span<const CommandRow> boardCommands()
{
    return kBoard;
}

} // namespace evm::scpi
