' Lists the links of a page as a table: each target and the link's text.
' Usage: cscript //nologo list-links.vbs [URL]
Option Explicit

Dim url, conn, body, targets, texts, i, width
url = "http://www.example.com/"
If WScript.Arguments.Count > 0 Then url = WScript.Arguments(0)

Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20

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

' Targets as written in the page (not made absolute); the texts come in the
' same order, "Not Available" for a link without text (an image, say).
targets = conn.GetHREFs()
texts = conn.GetHREFNames
If conn.Error <> "" Then
  WScript.Echo "Failed: " & conn.Error
  WScript.Quit 1
End If

WScript.Echo CStr(UBound(targets) + 1) & " links on " & url
If UBound(targets) < 0 Then WScript.Quit 0

width = Len("Target")
For i = 0 To UBound(targets)
  If Len(targets(i)) > width Then width = Len(targets(i))
Next
If width > 60 Then width = 60

WScript.Echo Pad("Target", width) & "  Text"
WScript.Echo String(width, "-") & "  " & String(30, "-")
For i = 0 To UBound(targets)
  WScript.Echo Pad(targets(i), width) & "  " & texts(i)
Next

' The text padded with blanks to the width; a longer text is left whole.
Function Pad(text, size)
  Pad = text
  If Len(text) < size Then Pad = text & Space(size - Len(text))
End Function
