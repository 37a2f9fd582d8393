// SPDX-License-Identifier: GPL-3.0-or-later
#include "scpi/session.h"

#include "scpi/errors.h"
#include "scpi/parser.h"

namespace evm::scpi {

Session::Outcome Session::runUnit(std::string_view text, std::optional<std::string> &response)
{
    try {
        const Parsed u = parseUnit(text);
        const CommandRow *row = nullptr;
        std::vector<std::string> used = u.mnemonics;
        if (u.common) {
            row = findCommand(u, used);
        } else {
            // After a command, a header without a leading ':' starts where the last one ended
            // (SCPI's compound rule); one that does not fit there is taken from the root.
            if (!u.absolute && !m_line.path.empty()) {
                std::vector<std::string> relative = m_line.path;
                relative.insert(relative.end(), u.mnemonics.begin(), u.mnemonics.end());
                if ((row = findCommand(u, relative)))
                    used = std::move(relative);
            }
            if (!row)
                row = findCommand(u, u.mnemonics);
        }
        if (!row)
            fail(UndefinedHeader, quoted(text));
        if (!u.common) {
            used.pop_back();
            m_line.path = std::move(used);
        }
        if (int(u.params.size()) < row->minParams)
            fail(MissingParameter);
        if (int(u.params.size()) > row->maxParams)
            fail(ParameterNotAllowed);
        Call call{m_status, m_board, m_options, u.params, response};
        if (row->effect == Effect::Shared && m_options.readOnly) {
            if (row->refusedAnswer)
                call.answer(std::to_string(*row->refusedAnswer));
            fail(CommandProtected, "the server is read-only");
        }
        row->run(call);
        return Outcome::Done;
    } catch (const Failure &f) {
        m_status.push(f.code, f.info);
        return isCommandError(f.code) ? Outcome::StopLine : Outcome::Failed;
    }
}

std::optional<std::string> Session::execute(std::string_view line)
{
    startLine(line);
    while (runNext()) {
    }
    return takeAnswer();
}

void Session::startLine(std::string_view line)
{
    m_line = Line();
    m_line.text = line;
    findNext(0);
}

void Session::findNext(size_t from)
{
    const std::string_view text(m_line.text);
    while (from <= text.size()) {
        size_t end = text.find(';', from);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view unit = trimmedUnit(text.substr(from, end - from));
        from = end + 1;
        if (!unit.empty()) {
            m_line.unitStart = size_t(unit.data() - text.data());
            m_line.unitSize = unit.size();
            m_line.after = from;
            m_line.pending = true;
            return;
        }
    }
    m_line.pending = false;
}

bool Session::runNext()
{
    if (!m_line.pending)
        return false;
    std::optional<std::string> response;
    const Outcome outcome = runUnit(std::string_view(m_line.text).substr(m_line.unitStart, m_line.unitSize), response);
    if (response && m_line.answer)
        m_line.answer->append(1, ';').append(*response);
    else if (response)
        m_line.answer = std::move(response);
    if (outcome == Outcome::StopLine)
        m_line.pending = false;
    else
        findNext(m_line.after);
    return true;
}

void Session::refuseLine(std::string_view why)
{
    m_status.push(CommandError, why);
}

} // namespace evm::scpi
