' Kestrel.Conn's requests from VBScript, against the scenario server and
' nginx on 127.0.0.1: the body as text and as a file, failures in Error, the
' response members, HEAD, POST, PUT and PATCH, redirects and the transfer log.
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

Function StartsWith(text, prefix)
  StartsWith = Left(text, Len(prefix)) = prefix
End Function

Dim env, fso, scenarioBase, nginxBase, tempFolder
Set env = CreateObject("WScript.Shell").Environment("PROCESS")
Set fso = CreateObject("Scripting.FileSystemObject")
scenarioBase = "http://127.0.0.1:" & env("KESTREL_SCENARIO_PORT") & "/"
nginxBase = "http://127.0.0.1:" & env("KESTREL_NGINX_PORT") & "/"
tempFolder = fso.GetSpecialFolder(2).Path & "\kestrel-conn-request"
If Not fso.FolderExists(tempFolder) Then fso.CreateFolder tempFolder

Function ReadFile(path)
  ReadFile = ""
  If fso.GetFile(path).Size = 0 Then Exit Function
  Dim stream
  Set stream = fso.OpenTextFile(path, 1)
  ReadFile = stream.ReadAll
  stream.Close
End Function

Sub WriteFile(path, text)
  Dim stream
  Set stream = fso.CreateTextFile(path, True)
  stream.Write text
  stream.Close
End Sub

Sub DeleteFile(path)
  If fso.FileExists(path) Then fso.DeleteFile path
End Sub

Const HelloBody = "Hello from the scenario server."
Dim conn, body, expected
Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20

' --- a page and what it leaves behind ------------------------------------
conn.URL = scenarioBase & "s/hello"
body = conn.GetURL
CheckEqual "body", body, HelloBody & vbCrLf
CheckEqual "no error", conn.Error, ""
CheckEqual "Response", conn.Response, "HTTP/1.0 200 OK"
CheckEqual "Headers", conn.Headers, "HTTP/1.0 200 OK" & vbCrLf & "Content-Type: text/plain" & vbCrLf & _
  "Content-Length: 33" & vbCrLf & vbCrLf
CheckEqual "RequestMethod after the request", conn.RequestMethod, "GET"

' --- a 404 page is a success ---------------------------------------------
conn.URL = scenarioBase & "s/http-not-found"
body = conn.GetURL
CheckEqual "404 body", body, "<html><body>No such page.</body></html>"
CheckEqual "404 leaves Error", conn.Error, ""
CheckEqual "404 Response", conn.Response, "HTTP/1.0 404 Not Found"

' --- a failure, then a success ---------------------------------------------
' Nothing listens on port 1 of the loopback address.
conn.URL = "http://127.0.0.1:1/nothing.html"
body = conn.GetURL
CheckEqual "refused connection gives no body", body, ""
CheckEqual "refused connection in Error", conn.Error, "[10061] Connection refused"
conn.URL = scenarioBase & "s/hello"
body = conn.GetURL
CheckEqual "success after a failure", body, HelloBody & vbCrLf
CheckEqual "success keeps the earlier Error", conn.Error, "[10061] Connection refused"
CheckEqual "BinaryData is a byte array", VarType(conn.BinaryData), 8209
CheckEqual "BinaryData clears Error", conn.Error, ""

' A time-out: the server waits longer than the object.
conn.TimeOut = 1
conn.URL = scenarioBase & "s/hello?delay=15000"
body = conn.GetURL
CheckEqual "time-out gives no body", body, ""
CheckEqual "time-out in Error", conn.Error, "Operation timed out"
conn.TimeOut = 20

' --- bytes of any value ------------------------------------------------------
conn.URL = scenarioBase & "s/conn-bytes"
body = conn.GetURL
CheckEqual "three bytes give three characters", Len(body), 3
If Len(body) = 3 Then
  CheckEqual "byte 0", Asc(Mid(body, 1, 1)), 0
  CheckEqual "byte 255", Asc(Mid(body, 2, 1)), 255
  CheckEqual "byte 10", Asc(Mid(body, 3, 1)), 10
End If
CheckEqual "BinaryData of bytes", VarType(conn.BinaryData), 8209
conn.URL = scenarioBase & "s/conn-nul-text"
body = conn.GetURL
CheckEqual "a NUL inside the text is kept", body, "abc" & Chr(0) & "def"

' --- header lines one by one -------------------------------------------------
conn.URL = scenarioBase & "s/conn-header-forms"
body = conn.GetURL
CheckEqual "header page", body, "<p>headers</p>"
CheckEqual "GetHeader in lower case", conn.GetHeader("content-type"), "text/html"
CheckEqual "GetHeader with its colon", conn.GetHeader("Content-Type:"), "text/html"
CheckEqual "GetHeader of a prefix takes the first line", conn.GetHeader("Content"), "text/html"
CheckEqual "GetHeader of the empty name is the status line", conn.GetHeader(""), "HTTP/1.0 200 OK"
CheckEqual "GetHeader without a blank after the colon", conn.GetHeader("X-Tight"), "tight"
CheckEqual "GetHeader after two blanks keeps one", conn.GetHeader("X-Two-Blanks"), " two blanks "
CheckEqual "GetHeader of a value with colons", conn.GetHeader("X-Colons"), "a:b: c"
CheckEqual "GetHeader of a folded line", conn.GetHeader("X-Folded"), "first part"
CheckEqual "GetHeader of a line without a colon", conn.GetHeader("x-no-colon"), "X-No-Colon"
CheckEqual "GetHeader of a missing name", conn.GetHeader("X-Missing"), ""
CheckEqual "GetHeader of the status line", conn.GetHeader("http/1.0"), "HTTP/1.0 200 OK"

' --- HEAD after GET keeps the body -----------------------------------------
conn.URL = scenarioBase & "s/hello"
conn.GetURL
conn.RequestMethod = "head"
conn.URL = scenarioBase & "s/http-head"
body = conn.GetURL
CheckEqual "HEAD returns the earlier body", body, HelloBody & vbCrLf
CheckEqual "HEAD response", conn.GetHeader("X-Note"), "head"
CheckEqual "the method is stored in capitals", conn.RequestMethod, "HEAD"
conn.RequestMethod = ""
conn.URL = scenarioBase & "s/http-redirected"
CheckEqual "an empty method is a GET", conn.GetURL, "redirected here"
CheckEqual "an empty method reads GET afterwards", conn.RequestMethod, "GET"

' --- POST of form data, echoed ----------------------------------------------
Dim post, form
Set post = CreateObject("Kestrel.Conn")
post.URL = scenarioBase & "echo"
post.RequestMethod = "POST"
form = "name=" & post.URLEncode("Tom & Jerry") & "&age=7"
post.PostData = form
post.UserAgent = " KestrelTest "
post.Authorization = "user:pw"
post.AddExtraHeader "X-One: 1"
post.AddExtraHeader "   "
post.AddExtraHeader "X-Two: 2"
body = post.GetURL
expected = "POST /echo HTTP/1.0" & vbCrLf & _
  "Authorization: Basic dXNlcjpwdw==" & vbCrLf & _
  "User-Agent: KestrelTest" & vbCrLf & _
  "Host: 127.0.0.1:" & env("KESTREL_SCENARIO_PORT") & vbCrLf & _
  "Accept: */*" & vbCrLf & _
  "Content-Type: application/x-www-form-urlencoded" & vbCrLf & _
  "Content-Length: " & Len(form) & vbCrLf & _
  "Pragma: No-Cache" & vbCrLf & _
  "X-One: 1" & vbCrLf & _
  "X-Two: 2" & vbCrLf & vbCrLf & form
CheckEqual "POST as received", body, expected
CheckEqual "POST Error", post.Error, ""
Set post = Nothing

' --- PUT and PATCH send PostData as POST does; GET does not -------------------
Dim rest, json
Set rest = CreateObject("Kestrel.Conn")
rest.Charset = "utf-8"
rest.URL = scenarioBase & "echo/items/7"
rest.RequestMethod = "PUT"
rest.ContentType = "application/json"
json = "{""name"":""caf" & Chr(233) & """}"
rest.PostData = json
' In UTF-8 the accented letter takes two bytes.
expected = "PUT /echo/items/7 HTTP/1.0" & vbCrLf & _
  "Host: 127.0.0.1:" & env("KESTREL_SCENARIO_PORT") & vbCrLf & "Accept: */*" & vbCrLf & _
  "Content-Type: application/json" & vbCrLf & "Content-Length: " & (Len(json) + 1) & vbCrLf & _
  "Pragma: No-Cache" & vbCrLf & vbCrLf & json
CheckEqual "PUT with a JSON body", rest.GetURL, expected
rest.RequestMethod = "patch"
CheckEqual "PATCH with a JSON body", rest.GetURL, Replace(expected, "PUT ", "PATCH ")
rest.RequestMethod = "GET"
CheckEqual "GET without the body", rest.GetURL, "GET /echo/items/7 HTTP/1.0" & vbCrLf & _
  "Host: 127.0.0.1:" & env("KESTREL_SCENARIO_PORT") & vbCrLf & "Accept: */*" & vbCrLf & vbCrLf
CheckEqual "PUT, PATCH and GET: no error", rest.Error, ""
Set rest = Nothing

' --- redirects ---------------------------------------------------------------
Dim moved
Set moved = CreateObject("Kestrel.Conn")
moved.URL = scenarioBase & "s/conn-redirect"
body = moved.GetURL
Check "redirect followed", InStr(body, "<title>Links</title>") > 0, "body [" & Left(body, 60) & "]"
CheckEqual "URL after the redirect", moved.URL, scenarioBase & "s/conn-links.html"
CheckEqual "FileName after the redirect", moved.FileName, "conn-links.html"
moved.FollowRedirects = False
moved.URL = scenarioBase & "s/conn-redirect"
CheckEqual "redirect not followed", moved.GetURL, "moved"
CheckEqual "redirect response", moved.Response, "HTTP/1.0 302 Found"
CheckEqual "redirect target", moved.GetHeader("Location"), "/s/conn-links.html"
' A target without a leading "/" is read against the page's folder.
moved.FollowRedirects = True
moved.URL = scenarioBase & "echo/dir/redir?location=../up.html"
Check "relative target from a folder", StartsWith(moved.GetURL, "GET /echo/up.html HTTP/1.0" & vbCrLf), moved.URL
CheckEqual "URL after the relative redirect", moved.URL, scenarioBase & "echo/up.html"
Set moved = Nothing

' --- the body saved to a file -----------------------------------------------
Dim saved, path
Set saved = CreateObject("Kestrel.Conn")
path = tempFolder & "\hello.txt"
WriteFile path, String(200, "x")
saved.URL = scenarioBase & "s/hello"
saved.SaveFileTo = path
body = saved.GetURL
CheckEqual "saving returns no text", body, ""
CheckEqual "saving leaves Error", saved.Error, ""
CheckEqual "the file replaced", ReadFile(path), HelloBody & vbCrLf
CheckEqual "SaveFileTo is cleared after the save", saved.SaveFileTo, ""
CheckEqual "the next request returns the body", saved.GetURL, HelloBody & vbCrLf

path = tempFolder & "\bytes.bin"
DeleteFile path
saved.URL = scenarioBase & "s/conn-bytes"
saved.SaveFileTo = path
saved.GetURL
CheckEqual "bytes saved unchanged: size", fso.GetFile(path).Size, 3
CheckEqual "bytes saved unchanged", ReadFile(path), Chr(0) & Chr(255) & Chr(10)

path = tempFolder & "\empty.txt"
WriteFile path, "old content"
saved.URL = scenarioBase & "s/conn-empty-body"
CheckEqual "empty body gives no text", saved.GetURL, ""
CheckEqual "empty body is no error", saved.Error, ""
saved.SaveFileTo = path
CheckEqual "empty body saved gives no text", saved.GetURL, ""
CheckEqual "empty body saved: empty file", fso.GetFile(path).Size, 0
CheckEqual "empty body saved: SaveFileTo cleared", saved.SaveFileTo, ""

path = tempFolder & "\no-such-folder\page.txt"
saved.URL = scenarioBase & "s/hello"
saved.SaveFileTo = path
body = saved.GetURL
CheckEqual "unwritable path gives no text", body, ""
CheckEqual "unwritable path in Error", saved.Error, "Cannot create file " & path
CheckEqual "unwritable path keeps SaveFileTo", saved.SaveFileTo, path
CheckEqual "the body is still there", saved.GetHeader("Content-Length"), "33"
Set saved = Nothing

' --- nginx --------------------------------------------------------------------
Dim site
Set site = CreateObject("Kestrel.Conn")
site.URL = nginxBase & "conn-many-links.html"
body = site.GetURL
Check "nginx page", InStr(body, "<title>Many links</title>") > 0, "body [" & Left(body, 60) & "]"
CheckEqual "nginx status", site.Response, "HTTP/1.1 200 OK"
CheckEqual "nginx Content-Type", site.GetHeader("content-type"), "text/html"
CheckEqual "nginx Content-Length", CLng(site.GetHeader("Content-Length")), Len(body)
site.URL = nginxBase & "no-such-page.html"
body = site.GetURL
CheckEqual "nginx 404", site.Response, "HTTP/1.1 404 Not Found"
Check "nginx 404 page", InStr(body, "404 Not Found") > 0, "body [" & Left(body, 60) & "]"
CheckEqual "nginx 404 leaves Error", site.Error, ""

' Basic authorization.
site.URL = nginxBase & "private/secret.txt"
site.GetURL
CheckEqual "no credentials", site.Response, "HTTP/1.1 401 Unauthorized"
site.Authorization = "kestrel:s3cret:pw"
CheckEqual "with credentials", site.GetURL, "The secret is kestrel." & vbLf
CheckEqual "with credentials: status", site.Response, "HTTP/1.1 200 OK"
site.Authorization = ""

' A large body, whole, as text and as a file.
site.URL = nginxBase & "big.bin"
body = site.GetURL
CheckEqual "4 MiB as text", Len(body), 4194304
CheckEqual "4 MiB: a byte at the start", Asc(Mid(body, 2, 1)), 1
CheckEqual "4 MiB: the last byte", Asc(Right(body, 1)), 254
path = tempFolder & "\big.bin"
site.SaveFileTo = path
CheckEqual "4 MiB saved gives no text", site.GetURL, ""
CheckEqual "4 MiB saved: size", fso.GetFile(path).Size, 4194304
DeleteFile path

' Through the loopback proxy.
site.Proxy = "127.0.0.1:" & env("KESTREL_PROXY_PORT")
site.URL = nginxBase & "conn-many-links.html"
body = site.GetURL
Check "through the proxy", InStr(body, "<title>Many links</title>") > 0, "body [" & Left(body, 60) & "] Error [" & site.Error & "]"
CheckEqual "through the proxy: status", site.Response, "HTTP/1.1 200 OK"
Set site = Nothing

' --- the transfer log, written when the object goes ---------------------------
Dim logged, logPath, port
port = env("KESTREL_SCENARIO_PORT")
logPath = tempFolder & "\transfer.log"
DeleteFile logPath
Set logged = CreateObject("Kestrel.Conn")
logged.HTTPLog = logPath
logged.URL = scenarioBase & "s/hello"
logged.GetURL
logged.URL = scenarioBase & "s/http-not-found"
logged.GetURL
Check "no log while the object lives", Not fso.FileExists(logPath), "the file exists already"
Set logged = Nothing
Check "log written on release", fso.FileExists(logPath), "no file " & logPath
If fso.FileExists(logPath) Then
  expected = "GET /s/hello HTTP/1.0" & vbCrLf & "Host: 127.0.0.1:" & port & vbCrLf & "Accept: */*" & vbCrLf & vbCrLf & _
    "HTTP/1.0 200 OK" & vbCrLf & "Content-Type: text/plain" & vbCrLf & "Content-Length: 33" & vbCrLf & vbCrLf & _
    "GET /s/http-not-found HTTP/1.0" & vbCrLf & "Host: 127.0.0.1:" & port & vbCrLf & "Accept: */*" & vbCrLf & vbCrLf & _
    "HTTP/1.0 404 Not Found" & vbCrLf & "Content-Type: text/html" & vbCrLf & "Content-Length: 39" & vbCrLf & vbCrLf
  CheckEqual "log holds every line of both exchanges", ReadFile(logPath), expected
End If

' The file named when the object goes is the one written.
Dim renamedPath
renamedPath = tempFolder & "\renamed.log"
DeleteFile renamedPath
Set logged = CreateObject("Kestrel.Conn")
logged.HTTPLog = logPath
logged.URL = scenarioBase & "s/hello"
logged.GetURL
logged.HTTPLog = renamedPath
Set logged = Nothing
Check "log goes to the last name", fso.FileExists(renamedPath), "no file " & renamedPath
Set logged = CreateObject("Kestrel.Conn")
logged.HTTPLog = renamedPath
logged.URL = scenarioBase & "s/hello"
logged.GetURL
logged.HTTPLog = ""
DeleteFile renamedPath
Set logged = Nothing
Check "no log when HTTPLog is emptied", Not fso.FileExists(renamedPath), "the file was written"

Set conn = Nothing
fso.DeleteFolder tempFolder, True
WScript.Echo "DONE"
