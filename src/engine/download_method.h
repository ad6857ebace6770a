#pragma once

namespace lumen
{

// How the engine fetches the list: one record at a time over one connection,
// or up to the thread count of records side by side. The numbers are the
// ones the settings file keeps and the status bar shows ("下载方式：1").
enum class DownloadMethod { SingleConnection = 1, MultiConnection = 2 };

// A stored or typed number: 2 is the multi-connection method, any other
// number the single connection.
constexpr DownloadMethod downloadMethodFromNumber(int number)
{
    return number == 2 ? DownloadMethod::MultiConnection : DownloadMethod::SingleConnection;
}

constexpr int downloadMethodNumber(DownloadMethod method)
{
    return static_cast<int>(method);
}

} // namespace lumen
