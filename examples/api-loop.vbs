' Calls an API many times on one kept connection, with compressed answers:
' KeepAlive spares a new connection (and over https a new handshake) for
' every call, Compression lets the server send each answer gzip-compressed.
' Usage: cscript //nologo api-loop.vbs [URL] [COUNT]
Option Explicit

Dim url, count, conn, body, i, total
url = "http://www.example.com/"
count = 10
If WScript.Arguments.Count > 0 Then url = WScript.Arguments(0)
If WScript.Arguments.Count > 1 Then count = CLng(WScript.Arguments(1))

Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20
conn.KeepAlive = True     ' the next request to the same server reuses the connection
conn.Compression = True   ' ask for gzip or deflate; GetURL returns the decoded text

On Error Resume Next
conn.URL = url
If Err.Number <> 0 Then
  WScript.Echo "Bad URL: " & Err.Description
  WScript.Quit 2
End If
On Error GoTo 0

total = 0
For i = 1 To count
  body = conn.GetURL()
  If body = "" And conn.Error <> "" Then
    WScript.Echo "Call " & i & " failed: " & conn.Error
    WScript.Quit 1
  End If
  total = total + Len(body)
Next

WScript.Echo "Calls:    " & count
WScript.Echo "Status:   " & conn.Response
WScript.Echo "Received: " & total & " characters"
' Headers show the answer as the server sent it, compressed length included.
If conn.GetHeader("Content-Encoding:") <> "" Then
  WScript.Echo "Encoding: " & conn.GetHeader("Content-Encoding:")
End If

' Turning KeepAlive off (or releasing the object) closes the kept connection.
conn.KeepAlive = False
