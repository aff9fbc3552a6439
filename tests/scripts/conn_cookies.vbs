' Kestrel.Conn's cookies from VBScript, against the scenario server on
' 127.0.0.1: a login that sets a session cookie and redirects, the store as
' text (saved, restored in a new object, refused line by line), KeepCookies
' off, and hostile answers within the bounds.
Option Explicit

Dim failures
failures = 0

Sub Check(name, condition, detail)
  If condition Then
    WScript.Echo "PASS " & name
  Else
    WScript.Echo "FAIL " & name & ": " & detail
    failures = failures + 1
  End If
End Sub

Sub CheckEqual(name, actual, expected)
  Check name, actual = expected, "got [" & actual & "], expected [" & expected & "]"
End Sub

Function LineCount(text)
  LineCount = (Len(text) - Len(Replace(text, vbCrLf, ""))) / 2
End Function

' One line of the cookie file: the seven fields, tab-separated.
Function CookieLine(domain, subdomains, path, secure, expiry, name, value)
  CookieLine = domain & vbTab & subdomains & vbTab & path & vbTab & secure & vbTab & expiry & vbTab & _
    name & vbTab & value & vbCrLf
End Function

Dim env, scenarioBase
Set env = CreateObject("WScript.Shell").Environment("PROCESS")
scenarioBase = "http://127.0.0.1:" & env("KESTREL_SCENARIO_PORT") & "/"
Const FileHeader = "# Netscape HTTP Cookie File"
Const Welcome = "Welcome, member."

Function LoginConn(keep)
  Dim c
  Set c = CreateObject("Kestrel.Conn")
  c.TimeOut = 20
  c.KeepCookies = keep
  c.URL = scenarioBase & "s/cookie-login"
  c.RequestMethod = "POST"
  c.PostData = "user=kestrel&password=s3cret"
  Set LoginConn = c
End Function

' --- the login: POST, 302 with Set-Cookie, the members' page -----------------
Dim conn, body, saved, session
session = CookieLine("#HttpOnly_127.0.0.1", "FALSE", "/", "FALSE", "0", "session", "k3str3l-42")
Set conn = LoginConn(True)
body = conn.GetURL
CheckEqual "login lands on the members' page", body, Welcome & vbCrLf
CheckEqual "login status", conn.Response, "HTTP/1.0 200 OK"
CheckEqual "login error", conn.Error, ""
saved = conn.Cookies
CheckEqual "the session cookie in the store", saved, FileHeader & vbCrLf & session
conn.URL = scenarioBase & "s/cookie-members"
CheckEqual "a later page of the same object", conn.GetURL, Welcome & vbCrLf

' --- without KeepCookies: nothing stored, nothing sent -------------------------
Dim plain
Set plain = LoginConn(False)
body = plain.GetURL
CheckEqual "login without KeepCookies is refused", plain.Response, "HTTP/1.0 403 Forbidden"
CheckEqual "nothing stored without KeepCookies", plain.Cookies, ""
' The store still reads and writes, but sends nothing.
plain.Cookies = saved
CheckEqual "Cookies put without KeepCookies", plain.Cookies, saved
plain.URL = scenarioBase & "s/cookie-members"
body = plain.GetURL
CheckEqual "a restored store is not sent without KeepCookies", plain.Response, "HTTP/1.0 403 Forbidden"

' --- saved and restored in a new object: the login still works ---------------
Dim restored
Set restored = CreateObject("Kestrel.Conn")
restored.TimeOut = 20
restored.KeepCookies = True
restored.Cookies = saved
CheckEqual "restored store reads back", restored.Cookies, saved
restored.URL = scenarioBase & "s/cookie-members"
CheckEqual "restored login", restored.GetURL, Welcome & vbCrLf

' --- lines not in the format are refused by number; the store stays ----------
Sub CheckRefused(name, text, expected)
  Dim number, description
  On Error Resume Next
  restored.Cookies = text
  number = Err.Number
  description = Err.Description
  On Error GoTo 0
  CheckEqual "refused: " & name & " (number)", number, -2147418113
  CheckEqual "refused: " & name, description, expected
  CheckEqual "refused: " & name & " leaves the store", restored.Cookies, saved
End Sub

CheckRefused "missing field", FileHeader & vbCrLf & "127.0.0.1" & vbTab & "FALSE" & vbTab & "/" & vbTab & _
  "FALSE" & vbTab & "0" & vbTab & "a", "Invalid cookie line 2: expected 7 fields separated by tabs, found 6"
CheckRefused "CR LF in a value", CookieLine("127.0.0.1", "FALSE", "/", "FALSE", "0", "a", "1" & vbCrLf & "X-Injected: 1"), _
  "Invalid cookie line 2: expected 7 fields separated by tabs, found 1"
CheckRefused "lone LF in a value", CookieLine("h.test", "FALSE", "/", "FALSE", "0", "ok", "1") & _
  CookieLine("127.0.0.1", "FALSE", "/", "FALSE", "0", "a", "1" & vbLf & "b"), _
  "Invalid cookie line 3: expected 7 fields separated by tabs, found 1"
CheckRefused "NUL in a value", CookieLine("127.0.0.1", "FALSE", "/", "FALSE", "0", "a", "1" & Chr(0) & "2"), _
  "Invalid cookie line 1: the value holds ; or a control character (CR, LF, NUL)"
CheckRefused "public suffix for every name", CookieLine(".co.uk", "TRUE", "/", "FALSE", "0", "a", "1"), _
  "Invalid cookie line 1: a cookie for every name under co.uk, which is a public suffix or an address"
CheckRefused "bad expiry", CookieLine("h.test", "FALSE", "/", "FALSE", "tomorrow", "a", "1"), _
  "Invalid cookie line 1: the expiry is not a number of seconds"
restored.Cookies = ""
CheckEqual "an empty put empties the store", restored.Cookies, ""
body = restored.GetURL
CheckEqual "the emptied store sends nothing", restored.Response, "HTTP/1.0 403 Forbidden"

' --- the store's bounds hold for a put ------------------------------------------
Dim many, d
many = ""
For d = 1 To 3100
  many = many & CookieLine("d" & d & ".test", "FALSE", "/", "FALSE", "0", "c", "v")
Next
restored.Cookies = many
saved = restored.Cookies
CheckEqual "3100 cookies put, 3000 kept", LineCount(saved), 3001
CheckEqual "the oldest went first", Left(saved, Len(FileHeader) + 11), FileHeader & vbCrLf & "d101.test"

' --- hostile answers: 10,000 cookies over a redirect, a cookie of 60,000 bytes -
Dim hostile
Set hostile = CreateObject("Kestrel.Conn")
hostile.TimeOut = 20
hostile.KeepCookies = True
hostile.URL = scenarioBase & "s/cookie-flood"
CheckEqual "10,000 cookies read", hostile.GetURL, "flooded" & vbCrLf
CheckEqual "a host keeps its newest 50", LineCount(hostile.Cookies), 51
hostile.Cookies = ""
hostile.URL = scenarioBase & "s/cookie-huge"
CheckEqual "a huge cookie read", hostile.GetURL, "huge" & vbCrLf
CheckEqual "a huge cookie ignored", hostile.Cookies, FileHeader & vbCrLf & _
  CookieLine("127.0.0.1", "FALSE", "/", "FALSE", "0", "small", "1")

WScript.Echo "DONE"
