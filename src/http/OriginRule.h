// The origin rule: credentials stay with the origin the script named. The
// Authorization line and extra request lines named Authorization or Cookie go
// only to the origin (scheme, host, port) of the URL the script set; a hop of
// a redirect to any other origin goes without them, and a later hop back to
// that origin carries them again. Every other line goes everywhere.
//
// Plain C++ without sockets, so that the native tests reach it; THttpClient
// asks it once per hop.
#pragma once

#include <string>
#include <vector>

struct TOrigin {
  std::string Scheme;  // "http" or "https"; empty for a text that is no such URL
  std::string Host;    // as the connection takes it (up to the first ":"), ASCII letters lower-cased
  int Port = 0;        // the port written in the URL when it is one, else the scheme's own
};

bool operator==(const TOrigin& a, const TOrigin& b);
inline bool operator!=(const TOrigin& a, const TOrigin& b) { return !(a == b); }

// The origin of an http or https URL, split as the connection splits it, so
// that two URLs have one origin exactly when their requests go to the same
// place: a port that is not a number from 1 to 65535 is no port (the
// connection then takes the scheme's own).
TOrigin OriginOf(const std::string& URL);

// The line's name (the text before its first ":", blanks and controls around
// it trimmed) is Authorization or Cookie, in any letter case.
bool IsCredentialLine(const std::string& Line);

// Whether a request line goes on a hop to Hop when the script's URL named
// Home: every line but a credential line, and that one only to Home.
bool LineGoesTo(const std::string& Line, const TOrigin& Home, const TOrigin& Hop);

// The extra request entries as they go on a hop to Hop. An entry may hold
// several lines (CR LF, CR or LF between them), and a line that begins with a
// blank or a tab continues the line before it, across entries too: each line
// goes as LineGoesTo says, and a continuation with the line it continues.
// Entries are returned unchanged when nothing is held back; an entry that
// loses lines keeps the others, joined by CR LF, and one that loses all is
// dropped. HeldBack tells whether any line was.
std::vector<std::string> ExtraLinesForHop(const std::vector<std::string>& Entries, const TOrigin& Home,
                                          const TOrigin& Hop, bool& HeldBack);
