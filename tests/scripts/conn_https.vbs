' Kestrel.Conn over https from VBScript, as users run it: pages of the test
' site from nginx with a certificate of the private test CA (trusted for this
' run only), certificate refusals, a self-signed server trusted by its
' fingerprint, bodies cut short (with what SaveFileTo
' keeps), credentials that stay with their origin, redirects between http and
' https, a tunnel through the proxy, a saved body and the transfer log.
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

Dim env, fso, tlsPort, site, plainSite, tempFolder
Set env = CreateObject("WScript.Shell").Environment("PROCESS")
Set fso = CreateObject("Scripting.FileSystemObject")
tlsPort = env("KESTREL_TLS_PORT")
site = "https://localhost:" & tlsPort & "/"
plainSite = "http://localhost:" & env("KESTREL_NGINX_PORT") & "/"
tempFolder = fso.GetSpecialFolder(2).Path & "\kestrel-conn-https"
If Not fso.FolderExists(tempFolder) Then fso.CreateFolder tempFolder

Dim conn, body, links, names
Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20

' --- a page over https, and what it leaves behind ---------------------------
conn.URL = site & "index.html"
CheckEqual "https URL reads back", conn.URL, site & "index.html"
body = conn.GetURL
CheckEqual "no error", conn.Error, ""
Check "page body", InStr(body, "<title>Kestrel test site</title>") > 0, Left(body, 80)
CheckEqual "Response", conn.Response, "HTTP/1.1 200 OK"
CheckEqual "GetHeader", conn.GetHeader("Content-Type"), "text/html"
CheckEqual "Content-Length matches", CLng(conn.GetHeader("Content-Length")), Len(body)
links = conn.GetHREFs
names = conn.GetHREFNames
CheckEqual "links of the page", UBound(links), 2
CheckEqual "first link", links(0), "/big.bin"
CheckEqual "second link's text", names(1), "Protected&private"
CheckEqual "FileName", conn.FileName, "index.html"

' The scheme in capitals, and a page behind Basic authorization.
conn.URL = "HTTPS://LOCALHOST:" & tlsPort & "/private/secret.txt"
conn.Authorization = "kestrel:s3cret:pw"
CheckEqual "authorized page", conn.GetURL, "The secret is kestrel." & vbLf
conn.Authorization = ""

' --- other schemes are still refused ----------------------------------------
On Error Resume Next
conn.URL = "ftp://localhost/x"
CheckEqual "ftp refused", Err.Description, "Invalid URL"
Err.Clear
conn.URL = "https:/localhost/x"
CheckEqual "https with one slash refused", Err.Description, "Invalid URL"
Err.Clear
On Error Goto 0
CheckEqual "URL kept after a refusal", conn.URL, "HTTPS://LOCALHOST:" & tlsPort & "/private/secret.txt"

' --- refused certificates: an empty result and a text saying why ------------
Sub CheckRefused(name, url, expected)
  Dim c, result
  Set c = CreateObject("Kestrel.Conn")
  c.TimeOut = 20
  c.URL = url
  result = c.GetURL
  CheckEqual name & ": no body", result, ""
  CheckEqual name & ": Error", c.Error, expected
  CheckEqual name & ": no Response", c.Response, ""
End Sub
CheckRefused "expired", "https://localhost:" & env("KESTREL_TLS_EXPIRED_PORT") & "/", _
  "Certificate error: the certificate has expired"
CheckRefused "another name", "https://localhost:" & env("KESTREL_TLS_WRONGNAME_PORT") & "/", _
  "Certificate error: the certificate was issued for another name (other.kestrel.test)"
CheckRefused "unknown issuer", "https://localhost:" & env("KESTREL_TLS_UNTRUSTED_PORT") & "/", _
  "Certificate error: the issuer is not trusted"
CheckRefused "by address", "https://127.0.0.1:" & tlsPort & "/", _
  "Certificate error: the certificate was issued for another name (localhost)"
CheckRefused "closed in the handshake", "https://localhost:" & env("KESTREL_TLS_HSCLOSE_PORT") & "/", _
  "The server closed the connection during the TLS handshake"

' --- one server trusted by its certificate's fingerprint --------------------
Dim pinned, selfSigned, fingerprint, pinnedLog
selfSigned = "https://localhost:" & env("KESTREL_TLS_SELFSIGNED_PORT") & "/s/hello"
CheckRefused "self-signed", selfSigned, "Certificate error: the issuer is not trusted"
' As openssl prints it, with blanks for the colons.
fingerprint = Replace(env("KESTREL_TLS_SELFSIGNED_SHA256"), ":", " ")
pinnedLog = tempFolder & "\pinned.log"
If fso.FileExists(pinnedLog) Then fso.DeleteFile pinnedLog
Set pinned = CreateObject("Kestrel.Conn")
pinned.TimeOut = 20
pinned.HTTPLog = pinnedLog
CheckEqual "TrustedCertificates is empty at first", pinned.TrustedCertificates, ""
On Error Resume Next
pinned.TrustedCertificates = fingerprint & "; 12:34"
CheckEqual "a short fingerprint is refused", Err.Description, _
  "Not a SHA-256 fingerprint (64 hexadecimal digits): 12:34"
Err.Clear
On Error Goto 0
CheckEqual "a refused list changes nothing", pinned.TrustedCertificates, ""
pinned.TrustedCertificates = fingerprint & ";"
CheckEqual "TrustedCertificates reads back as put", pinned.TrustedCertificates, fingerprint & ";"
pinned.URL = selfSigned
CheckEqual "self-signed with its fingerprint", pinned.GetURL, "Hello from the scenario server." & vbCrLf
CheckEqual "self-signed with its fingerprint: no error", pinned.Error, ""
pinned.URL = "https://127.0.0.1:" & env("KESTREL_TLS_SELFSIGNED_PORT") & "/s/hello"
CheckEqual "the fingerprint does not cover another name", pinned.GetURL, ""
CheckEqual "another name: Error", pinned.Error, _
  "Certificate error: the certificate was issued for another name (localhost)"
Set pinned = Nothing
If fso.FileExists(pinnedLog) Then
  Check "log: accepted by its fingerprint", InStr(fso.OpenTextFile(pinnedLog, 1).ReadAll, _
    "The certificate of localhost was accepted by its trusted fingerprint: its issuer is not trusted" & vbCrLf) > 0, _
    pinnedLog
Else
  Check "pinned log written", False, pinnedLog
End If

' --- a body cut short: no result, the reason, and the file holds what came --
Dim plainScenario, tlsScenario
plainScenario = env("KESTREL_SCENARIO_PORT")
tlsScenario = env("KESTREL_TLS_SCENARIO_PORT")

' expected: the file's text, or "-" for no file at all (nothing of a body came).
Sub CheckCut(name, url, expectedError, expected)
  Dim c, result, cutPath, saved
  Set c = CreateObject("Kestrel.Conn")
  c.TimeOut = 20
  cutPath = tempFolder & "\cut.bin"
  If fso.FileExists(cutPath) Then fso.DeleteFile cutPath
  c.SaveFileTo = cutPath
  c.URL = url
  result = c.GetURL
  CheckEqual name & ": no result", result, ""
  CheckEqual name & ": Error", c.Error, expectedError
  CheckEqual name & ": SaveFileTo kept for a retry", c.SaveFileTo, cutPath
  If expected = "-" Then
    Check name & ": no file", Not fso.FileExists(cutPath), cutPath
  ElseIf fso.FileExists(cutPath) Then
    saved = ""
    If fso.GetFile(cutPath).Size > 0 Then saved = fso.OpenTextFile(cutPath, 1).ReadAll
    CheckEqual name & ": the bytes that came", saved, expected
  Else
    Check name & ": file written", False, cutPath
  End If
End Sub

Dim cuts, cut, parts, scheme
cuts = Array("http-content-length-short|The connection closed after 10 of 100 bytes of the body|only ten!!", _
  "http-chunked-cut|The connection closed before the last chunk of the body|abcdonly part", _
  "http-chunked-bad-size|Malformed chunk size line|first", _
  "http-headers-cut|The connection closed in the header block|-")
For Each cut In cuts
  parts = Split(cut, "|")
  CheckCut "http " & parts(0), "http://127.0.0.1:" & plainScenario & "/s/" & parts(0), parts(1), parts(2)
  CheckCut "https " & parts(0), "https://localhost:" & tlsScenario & "/s/" & parts(0), parts(1), parts(2)
Next
' A body framed by the close needs the closing alert under TLS (header block: 45 bytes).
CheckCut "https until close without the alert", "https://localhost:" & tlsScenario & _
  "/s/tls-until-close?tls-close-notify=no&cut-at=75", _
  "The server closed the TLS connection without its closing alert: the body may be cut short", _
  "012345678901234567890123456789"

' --- credentials stay with their origin -------------------------------------
Dim guarded
Set guarded = CreateObject("Kestrel.Conn")
guarded.TimeOut = 20
guarded.Authorization = "user:pw"
guarded.AddExtraHeader "Cookie: session=42"
guarded.URL = "https://localhost:" & tlsScenario & "/redirect/http/localhost/" & plainScenario & "/echo/landing"
CheckEqual "https to http on the same host: no credentials", guarded.GetURL, "GET /echo/landing HTTP/1.0" & vbCrLf & _
  "Host: localhost:" & plainScenario & vbCrLf & "Accept: */*" & vbCrLf & vbCrLf
guarded.URL = "https://localhost:" & tlsScenario & "/redirect/http/localhost/" & plainScenario & _
  "/redirect/https/localhost/" & tlsScenario & "/echo/back"
CheckEqual "back to the origin: credentials again", guarded.GetURL, "GET /echo/back HTTP/1.0" & vbCrLf & _
  "Authorization: Basic dXNlcjpwdw==" & vbCrLf & "Host: localhost:" & tlsScenario & vbCrLf & "Accept: */*" & vbCrLf & _
  "Cookie: session=42" & vbCrLf & vbCrLf

' --- redirects between the schemes -------------------------------------------
conn.URL = plainSite & "to-https.html"
body = conn.GetURL
CheckEqual "http to https: no error", conn.Error, ""
CheckEqual "http to https: final URL", conn.URL, site & "index.html"
Check "http to https: body", InStr(body, "Kestrel test site") > 0, Left(body, 80)
conn.URL = site & "to-http.html"
body = conn.GetURL
CheckEqual "https to http: final URL", conn.URL, plainSite & "index.html"
conn.URL = site & "old-relative.html"
body = conn.GetURL
CheckEqual "relative target stays on https", conn.URL, site & "index.html"

' --- a saved body -------------------------------------------------------------
Dim path
path = tempFolder & "\big32.bin"
If fso.FileExists(path) Then fso.DeleteFile path
conn.SaveFileTo = path
conn.URL = site & "big32.bin"
body = conn.GetURL
CheckEqual "saved: no error", conn.Error, ""
Check "saved: file exists", fso.FileExists(path), path
If fso.FileExists(path) Then CheckEqual "saved: 32 MiB", fso.GetFile(path).Size, 33554432
conn.SaveFileTo = ""

' --- a tunnel through the proxy, and its transfer log -----------------------
Dim logged, logPath, logText
logPath = tempFolder & "\https.log"
If fso.FileExists(logPath) Then fso.DeleteFile logPath
Set logged = CreateObject("Kestrel.Conn")
logged.TimeOut = 20
logged.HTTPLog = logPath
logged.Proxy = "127.0.0.1:" & env("KESTREL_PROXY_PORT")
logged.URL = site & "index.html"
body = logged.GetURL
CheckEqual "through the proxy: no error", logged.Error, ""
Check "through the proxy: body", InStr(body, "Kestrel test site") > 0, Left(body, 80)
Set logged = Nothing
Check "log written", fso.FileExists(logPath), logPath
If fso.FileExists(logPath) Then
  logText = fso.OpenTextFile(logPath, 1).ReadAll
  Check "log: tunnel request", InStr(logText, "CONNECT localhost:" & tlsPort & " HTTP/1.0" & vbCrLf) = 1, Left(logText, 80)
  Check "log: request in origin form", InStr(logText, vbCrLf & "GET /index.html HTTP/1.0" & vbCrLf & _
    "Host: localhost:" & tlsPort & vbCrLf & "Accept: */*" & vbCrLf & vbCrLf & "HTTP/1.1 200 OK" & vbCrLf) > 0, logText
End If

Set conn = Nothing
fso.DeleteFolder tempFolder, True
WScript.Echo "DONE"
