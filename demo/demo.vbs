' Kestrel.Conn in a few lines: its version, a text URL-encoded and decoded,
' and a page fetched: its status line, header lines, size, first lines and
' links.
' Usage: cscript //nologo demo.vbs URL
Option Explicit

Const BodyLinesShown = 12
Const LinksShown = 10

Dim conn
Set conn = CreateObject("Kestrel.Conn")
WScript.Echo "Kestrel.Conn version " & conn.Version

Dim text, encoded
text = "Tom & Jerry: 100% fun?"
encoded = conn.URLEncode(text)
WScript.Echo "Encoded: " & text & " -> " & encoded & " -> " & conn.URLDecode(encoded)

If WScript.Arguments.Count > 0 Then Fetch WScript.Arguments(0)

Sub Fetch(url)
  Dim body
  WScript.Echo ""
  WScript.Echo "Fetching " & url
  conn.TimeOut = 30
  On Error Resume Next
  conn.URL = url
  If Err.Number <> 0 Then
    WScript.Echo "Failed: " & Err.Description
    Exit Sub
  End If
  On Error GoTo 0
  body = conn.GetURL
  If body = "" And conn.Error <> "" Then
    WScript.Echo "Failed: " & conn.Error
    Exit Sub
  End If

  WScript.Echo "Status:  " & conn.Response
  WScript.Echo "Headers:"
  Dim lines, i
  lines = Split(conn.Headers, vbCrLf)
  For i = 1 To UBound(lines)
    If lines(i) <> "" Then WScript.Echo "  " & lines(i)
  Next
  WScript.Echo "Body:    " & Len(body) & " characters"
  lines = Split(Replace(body, vbCrLf, vbLf), vbLf)
  For i = 0 To UBound(lines)
    If i >= BodyLinesShown Then
      WScript.Echo "  ..."
      Exit For
    End If
    ' The line end after the last line opens no line of its own.
    If i < UBound(lines) Or lines(i) <> "" Then WScript.Echo "  | " & lines(i)
  Next

  Dim targets, names
  targets = conn.GetHREFs
  names = conn.GetHREFNames
  If conn.Error <> "" Then
    WScript.Echo "Links:   none read (" & conn.Error & ")"
    Exit Sub
  End If
  WScript.Echo "Links:   " & (UBound(targets) + 1)
  For i = 0 To UBound(targets)
    If i >= LinksShown Then
      WScript.Echo "  ..."
      Exit For
    End If
    WScript.Echo "  " & names(i) & " -> " & targets(i)
  Next
End Sub
