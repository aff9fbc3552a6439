' Kestrel.Conn at work: fetches one page and prints a report of the answer:
' status line, header lines, body size, the first lines of the body and the
' page's links as a table of targets and texts.
' Usage: cscript //nologo demo.vbs URL
Option Explicit

Const BodyLinesShown = 8
Const LinksShown = 40
Const TargetWidth = 50
Const TextWidth = 40

Dim conn
Set conn = CreateObject("Kestrel.Conn")

Title "Kestrel.Conn " & conn.Version, "="
If WScript.Arguments.Count = 0 Then
  WScript.Echo "Usage: cscript //nologo demo.vbs URL"
  WScript.Quit 2
End If
WScript.Quit Report(WScript.Arguments(0))

' Prints the report for one URL; its result is the script's exit status.
Function Report(url)
  Report = 1
  conn.TimeOut = 30
  Field "Request", "GET " & url
  On Error Resume Next
  conn.URL = url
  If Err.Number <> 0 Then
    Field "Failed", Err.Description
    Exit Function
  End If
  On Error GoTo 0

  Dim body
  body = conn.GetURL
  If body = "" And conn.Error <> "" Then
    Field "Failed", conn.Error
    Exit Function
  End If
  Report = 0

  Field "Status line", conn.Response
  Field "Body size", Len(body) & " characters"
  Field "Content type", conn.GetHeader("Content-Type:")

  Dim lines, i
  Title "Header lines", "-"
  lines = Split(conn.Headers, vbCrLf)
  For i = 1 To UBound(lines)
    If lines(i) <> "" Then WScript.Echo "  " & lines(i)
  Next

  Dim last
  Title "First lines of the body", "-"
  lines = Split(Replace(body, vbCrLf, vbLf), vbLf)
  ' The line end after the last line opens no line of its own.
  last = UBound(lines)
  If last >= 0 Then
    If lines(last) = "" Then last = last - 1
  End If
  For i = 0 To last
    If i >= BodyLinesShown Then
      WScript.Echo "  | ... (" & Plural(last - i + 1, "more line") & ")"
      Exit For
    End If
    WScript.Echo "  | " & lines(i)
  Next

  Dim targets, texts, count, width
  targets = conn.GetHREFs
  texts = conn.GetHREFNames
  If conn.Error <> "" Then
    Title "Links", "-"
    WScript.Echo "  none read: " & conn.Error
    Exit Function
  End If
  count = UBound(targets) + 1
  Title "Links (" & count & ")", "-"
  If count = 0 Then
    WScript.Echo "  The page has no links."
    Exit Function
  End If
  width = Len("Target")
  For i = 0 To UBound(targets)
    If Len(targets(i)) > width Then width = Len(targets(i))
  Next
  If width > TargetWidth Then width = TargetWidth
  WScript.Echo "  " & Cell("Target", width) & "  Text"
  WScript.Echo "  " & String(width, "-") & "  " & String(TextWidth, "-")
  For i = 0 To UBound(targets)
    If i >= LinksShown Then
      WScript.Echo "  ... and " & Plural(count - i, "more link")
      Exit For
    End If
    WScript.Echo "  " & Cell(targets(i), width) & "  " & Cut(texts(i), TextWidth)
  Next
End Function

Sub Title(text, underline)
  WScript.Echo ""
  WScript.Echo text
  WScript.Echo String(Len(text), underline)
End Sub

Sub Field(name, value)
  WScript.Echo Cell(name, 14) & " " & value
End Sub

' The text cut or padded with blanks to exactly the width.
Function Cell(text, size)
  Cell = Cut(text, size)
  If Len(Cell) < size Then Cell = Cell & Space(size - Len(Cell))
End Function

' The text, or its start and "..." when it is longer than the width.
Function Cut(text, size)
  Cut = text
  If Len(text) > size Then Cut = Left(text, size - 3) & "..."
End Function

' "1 more line", "2 more lines".
Function Plural(number, noun)
  Plural = number & " " & noun
  If number <> 1 Then Plural = Plural & "s"
End Function
