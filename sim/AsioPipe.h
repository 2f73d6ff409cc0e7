#pragma once

#include <QString>

#include <string>

// The two named pipes between the panel and the ASIO driver, and where the
// stand-in puts their sockets.
namespace asiopipe {

// The panel serves this one; the ASIO driver asks it for the settings window.
inline const std::wstring kRequestPipe = L"\\\\.\\pipe\\KestrumASIOToPannel";
// The ASIO driver serves this one; the panel sends its reset notice to it.
inline const std::wstring kNoticePipe = L"\\\\.\\pipe\\KestrumPannelToASIO";

QString displayName(const std::wstring& pipe);

// The socket path of pipe, or an empty string with error set to the
// Windows error number of the failure.
QString socketPath(const std::wstring& pipe, quint32* error);

} // namespace asiopipe
