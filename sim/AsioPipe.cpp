#include "sim/AsioPipe.h"

#include "platform/posix/RuntimeDir.h"

namespace asiopipe {

QString displayName(const std::wstring& pipe)
{
    return QString::fromStdWString(pipe);
}

QString socketPath(const std::wstring& pipe, quint32* error)
{
    std::string path;
    std::uint32_t code = 0;
    if (!platform::posix::socketPathFor(pipe, path, code)) {
        *error = code;
        return QString();
    }
    return QString::fromStdString(path);
}

} // namespace asiopipe
