' Fetches one page and prints its status line, its size and its text.
' Usage: cscript //nologo fetch-page.vbs [URL]
Option Explicit

Dim url, conn, body
url = "http://www.example.com/"
If WScript.Arguments.Count > 0 Then url = WScript.Arguments(0)

Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20                  ' seconds that each wait may last

' A URL that starts with neither http:// nor https:// is refused at once, as a
' script error.
On Error Resume Next
conn.URL = url
If Err.Number <> 0 Then
  WScript.Echo "Bad URL: " & Err.Description
  WScript.Quit 2
End If
On Error GoTo 0

body = conn.GetURL()
' A failed request gives an empty text and leaves its reason in Error.
If body = "" And conn.Error <> "" Then
  WScript.Echo "Failed: " & conn.Error
  WScript.Quit 1
End If

WScript.Echo "Status: " & conn.Response
WScript.Echo "Size:   " & Len(body) & " characters"
WScript.Echo ""
WScript.Echo body
