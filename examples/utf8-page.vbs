' Fetches a page in the charset it names (UTF-8 on most of today's web) and
' saves its text as a Unicode text file, every character intact.
' Usage: cscript //nologo utf8-page.vbs [URL] [FILE]
Option Explicit

Dim url, path, conn, body, fso, stream
url = "http://www.example.com/"
path = "page.txt"
If WScript.Arguments.Count > 0 Then url = WScript.Arguments(0)
If WScript.Arguments.Count > 1 Then path = WScript.Arguments(1)

Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20
' Decode each page by what it says: its byte order mark, the charset in
' Content-Type or in a <meta> tag, else UTF-8 when the bytes are UTF-8.
' Without this line the text is read in the system's ANSI code page, and
' "é" in a UTF-8 page comes out as two wrong characters.
conn.Charset = "auto"

On Error Resume Next
conn.URL = url
If Err.Number <> 0 Then
  WScript.Echo "Bad URL: " & Err.Description
  WScript.Quit 2
End If
On Error GoTo 0

body = conn.GetURL()
If body = "" And conn.Error <> "" Then
  WScript.Echo "Failed: " & conn.Error
  WScript.Quit 1
End If

' The console may not show every character; a Unicode file keeps them all.
Set fso = CreateObject("Scripting.FileSystemObject")
Set stream = fso.CreateTextFile(path, True, True)
stream.Write body
stream.Close

WScript.Echo "Status:  " & conn.Response
WScript.Echo "Charset: " & conn.ResponseCharset
WScript.Echo "Length:  " & Len(body) & " characters"
WScript.Echo "Saved as Unicode text to " & path
