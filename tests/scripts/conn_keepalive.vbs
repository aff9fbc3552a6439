' KeepAlive and Compression from VBScript: requests on one kept connection
' (the scenario server's X-Conn and nginx's X-Connection name it), bodies
' decoded for GetURL, SaveFileTo and GetHREFs while Headers keep the
' server's lines, and failures that leave the object working.
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

Dim env, fso, scenarioBase, nginxBase, httpsBase, tempFolder
Set env = CreateObject("WScript.Shell").Environment("PROCESS")
Set fso = CreateObject("Scripting.FileSystemObject")
scenarioBase = "http://127.0.0.1:" & env("KESTREL_SCENARIO_PORT") & "/s/"
nginxBase = "http://127.0.0.1:" & env("KESTREL_NGINX_PORT") & "/"
httpsBase = "https://localhost:" & env("KESTREL_TLS_PORT") & "/"
tempFolder = fso.GetSpecialFolder(2).Path & "\kestrel-conn-keepalive"
If Not fso.FolderExists(tempFolder) Then fso.CreateFolder tempFolder

Dim kestrelText, i
kestrelText = ""
For i = 1 To 200
  kestrelText = kestrelText & "The quick kestrel hovers over the field." & vbCrLf
Next

Dim conn, body, first
Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20
CheckEqual "KeepAlive is off by default", conn.KeepAlive, False
CheckEqual "Compression is off by default", conn.Compression, False

' --- one connection for several requests ---------------------------------
conn.KeepAlive = True
CheckEqual "KeepAlive reads back", conn.KeepAlive, True
conn.URL = scenarioBase & "keep-cycle"
body = conn.GetURL
first = Mid(conn.GetHeader("X-Conn"), 2, 8)
CheckEqual "first kept request", conn.GetHeader("X-Conn"), "C" & first & " R00000001"
For i = 2 To 4
  body = conn.GetURL
  CheckEqual "kept request " & i & " body", body, "kept body"
  CheckEqual "kept request " & i & " on the same connection", conn.GetHeader("X-Conn"), "C" & first & " R0000000" & i
Next
conn.KeepAlive = False
body = conn.GetURL
CheckEqual "KeepAlive off: a new connection", Right(conn.GetHeader("X-Conn"), 9), "R00000001"

' A kept connection that the server drops unanswered: sent again, answered.
conn.KeepAlive = True
conn.URL = scenarioBase & "keep-drop"
body = conn.GetURL
body = conn.GetURL
CheckEqual "request sent again after a drop", body, "kept body"
CheckEqual "no error after the retry", conn.Error, ""

' --- compressed bodies -----------------------------------------------------
conn.KeepAlive = False
conn.Compression = True
conn.URL = scenarioBase & "gzip-text"
body = conn.GetURL
Check "gzip body decoded", body = kestrelText, "length " & Len(body)
CheckEqual "Content-Encoding as the server sent it", conn.GetHeader("Content-Encoding"), "gzip"
Check "Headers keep the compressed length", InStr(conn.Headers, "Content-Length: 102" & vbCrLf) > 0, conn.Headers

conn.URL = scenarioBase & "deflate-raw"
CheckEqual "raw deflate decoded", conn.GetURL = kestrelText, True

Dim path
path = tempFolder & "\binary.bin"
conn.URL = scenarioBase & "gzip-binary"
conn.SaveFileTo = path
CheckEqual "saved binary body gives no text", conn.GetURL, ""
CheckEqual "saved binary body size", fso.GetFile(path).Size, 16384
CheckEqual "SaveFileTo cleared", conn.SaveFileTo, ""

' 256 MB of zeros from a quarter-megabyte body, written as it is decoded.
path = tempFolder & "\bomb.bin"
conn.URL = scenarioBase & "gzip-bomb?body-zeros=268435456"
conn.SaveFileTo = path
CheckEqual "bomb saved without a text", conn.GetURL, ""
CheckEqual "bomb saved whole", fso.GetFile(path).Size, 268435456
fso.DeleteFile path

conn.URL = scenarioBase & "gzip-text?body-damage=flip,-8"
CheckEqual "corrupt body gives no text", conn.GetURL, ""
CheckEqual "corrupt body's error", conn.Error, "The compressed body could not be decoded: incorrect data check"
conn.URL = scenarioBase & "gzip-text"
CheckEqual "the object works after a corrupt body", conn.GetURL = kestrelText, True

conn.Compression = False
conn.URL = scenarioBase & "gzip-text"
body = conn.GetURL
CheckEqual "Compression off: the body as received", Len(body), 102

' --- nginx: gzip and kept connections together, over http and https -------
Dim base, links, connection
For Each base In Array(nginxBase, httpsBase)
  conn.KeepAlive = True
  conn.Compression = True
  conn.URL = base & "index.html"
  conn.GetURL
  links = conn.GetHREFs
  CheckEqual base & ": links of a gzip page", UBound(links), 2
  CheckEqual base & ": page came gzip-compressed", conn.GetHeader("Content-Encoding"), "gzip"
  connection = conn.GetHeader("X-Connection")
  conn.URL = base & "text.txt"
  body = conn.GetURL
  CheckEqual base & ": text decoded", Len(body), 65536
  CheckEqual base & ": same connection", conn.GetHeader("X-Connection"), connection
  conn.KeepAlive = False
  conn.Compression = False
Next

fso.DeleteFolder tempFolder, True
WScript.Echo "DONE " & failures & " failures"
