' Fetches a page through a proxy server, with credentials for the proxy when
' it asks for them.
' Usage: cscript //nologo proxy.vbs URL PROXY [USER:PASSWORD]
'   PROXY is the proxy's host name, a colon and its port: proxy.example.com:8080
Option Explicit

Dim conn, body
If WScript.Arguments.Count < 2 Then
  WScript.Echo "Usage: cscript //nologo proxy.vbs URL PROXY [USER:PASSWORD]"
  WScript.Quit 2
End If

Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20

On Error Resume Next
conn.URL = WScript.Arguments(0)
' A proxy without its port is refused: "Proxy port is required".
conn.Proxy = WScript.Arguments(1)
If Err.Number <> 0 Then
  WScript.Echo "Bad argument: " & Err.Description
  WScript.Quit 2
End If
On Error GoTo 0

' Sent as "Proxy-Authorization: Basic ..." with every request.
If WScript.Arguments.Count > 2 Then conn.ProxyPassword = WScript.Arguments(2)

body = conn.GetURL()
If body = "" And conn.Error <> "" Then
  WScript.Echo "Failed: " & conn.Error
  WScript.Quit 1
End If

WScript.Echo "Via:    " & conn.Proxy
WScript.Echo "Status: " & conn.Response
' A proxy that wants a login answers 407 itself: an answer, not a failure, so
' the status line tells. (For an https URL the proxy's 407 refuses the tunnel,
' and Error says so above.)
If InStr(conn.Response, " 407 ") > 0 Then
  WScript.Echo "Proxy login refused; the proxy asks for: " & conn.GetHeader("Proxy-Authenticate:")
  WScript.Quit 1
End If
WScript.Echo "Size:   " & Len(body) & " characters"
WScript.Echo ""
WScript.Echo body
