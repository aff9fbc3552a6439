' Records every line a request sends and receives in a transfer log file, and
' prints it: the first thing to look at when a server answers unexpectedly.
' Usage: cscript //nologo transfer-log.vbs [URL] [LOGFILE]
Option Explicit

Dim url, logFile, conn, fso, stream
url = "http://www.example.com/"
If WScript.Arguments.Count > 0 Then url = WScript.Arguments(0)
Set fso = CreateObject("Scripting.FileSystemObject")
logFile = fso.BuildPath(fso.GetSpecialFolder(2).Path, "kestrel-transfer.log")
If WScript.Arguments.Count > 1 Then logFile = fso.GetAbsolutePathName(WScript.Arguments(1))

Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20
conn.HTTPLog = logFile

On Error Resume Next
conn.URL = url
If Err.Number <> 0 Then
  WScript.Echo "Bad URL: " & Err.Description
  WScript.Quit 2
End If
On Error GoTo 0

conn.GetURL
If conn.Error <> "" Then WScript.Echo "Failed: " & conn.Error

' The log is written when the object is released, not before.
Set conn = Nothing

WScript.Echo "Transfer log " & logFile & ":"
Set stream = fso.OpenTextFile(logFile, 1)
Do While Not stream.AtEndOfStream
  WScript.Echo "  | " & stream.ReadLine
Loop
stream.Close
