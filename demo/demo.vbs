' Kestrel.Conn in a few lines: its version, a text URL-encoded and decoded,
' and, when a URL is given as the argument, that page fetched.
' Usage: cscript //nologo demo.vbs [URL]
Option Explicit

Dim conn
Set conn = CreateObject("Kestrel.Conn")
WScript.Echo "Kestrel.Conn version " & conn.Version

Dim text, encoded
text = "Tom & Jerry: 100% fun?"
encoded = conn.URLEncode(text)
WScript.Echo "Text:    " & text
WScript.Echo "Encoded: " & encoded
WScript.Echo "Decoded: " & conn.URLDecode(encoded)

If WScript.Arguments.Count > 0 Then Fetch WScript.Arguments(0)

Sub Fetch(url)
  Dim body
  WScript.Echo ""
  WScript.Echo "Fetching " & url
  On Error Resume Next
  conn.URL = url
  If Err.Number = 0 Then body = conn.GetURL
  If Err.Number <> 0 Then
    WScript.Echo "Failed: " & Err.Description
    Exit Sub
  End If
  If body = "" And conn.Error <> "" Then
    WScript.Echo "Failed: " & conn.Error
    Exit Sub
  End If
  WScript.Echo "Status:  " & conn.Response
  WScript.Echo "Length:  " & Len(body) & " characters"
  WScript.Echo Left(body, 400)
End Sub
