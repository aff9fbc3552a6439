// The cookie store as text in the cookie file format that curl and wget read
// and write: one cookie a line, seven fields separated by tabs (domain, TRUE
// when subdomains share the cookie, path, TRUE for Secure, expiry in Unix
// seconds or 0 for a session cookie, name, value), "#HttpOnly_" before the
// domain of an HttpOnly cookie, other lines starting with "#" and blank
// lines ignored.
#pragma once

#include "http/CookieStore.h"

#include <cstdint>
#include <string>

// The store's live cookies in creation order, each line ended by CR LF,
// after a first line naming the format; empty for an empty store.
std::string CookieFileText(const TCookieStore& store, int64_t now);

// Replaces the store's content with the cookies of the text; an empty text
// empties it. Lines of expired cookies are left out. A line not in the
// format raises Exception "Invalid cookie line N: <why>" (N counted from 1)
// and leaves the store as it was.
void LoadCookieFileText(TCookieStore& store, const std::string& text, int64_t now);
