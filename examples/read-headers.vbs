' Asks for a page's header lines only (a HEAD request: no body is sent) and
' prints them, then a few single header values looked up by name.
' Usage: cscript //nologo read-headers.vbs [URL]
Option Explicit

Dim url, conn, lines, i, name
url = "http://www.example.com/"
If WScript.Arguments.Count > 0 Then url = WScript.Arguments(0)

Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20
conn.RequestMethod = "HEAD"

On Error Resume Next
conn.URL = url
If Err.Number <> 0 Then
  WScript.Echo "Bad URL: " & Err.Description
  WScript.Quit 2
End If
On Error GoTo 0

' A HEAD answer has no body (GetURL returns the previous request's, none for a
' new object): only Error tells a failure.
conn.GetURL
If conn.Error <> "" Then
  WScript.Echo "Failed: " & conn.Error
  WScript.Quit 1
End If

WScript.Echo "Status line: " & conn.Response
WScript.Echo "Header lines:"
' Headers holds the status line, each header line and an empty line, each
' followed by CR LF.
lines = Split(conn.Headers, vbCrLf)
For i = 1 To UBound(lines)
  If lines(i) <> "" Then WScript.Echo "  " & lines(i)
Next

WScript.Echo "Single values:"
For Each name In Array("Content-Type", "Content-Length", "Last-Modified", "Server")
  WScript.Echo "  " & name & " = " & conn.GetHeader(name & ":")
Next
