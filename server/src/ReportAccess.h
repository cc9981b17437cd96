#pragma once
// Who may read "/report": the funnel shows every install key and error the
// installers sent, which is the operator's business alone.
#include <string>

// 127.0.0.0/8, ::1 and IPv4-mapped 127.x, as the server's peer address text.
bool isLoopbackAddress(const std::string& address);

// Without a token only a client on this machine may read the report. With
// one, any client that presents it may, and a local client must present it
// too: behind a proxy on the same machine every client looks local.
bool reportAccessAllowed(const std::string& remoteAddress, const std::string& presentedToken,
                         const std::string& token);
