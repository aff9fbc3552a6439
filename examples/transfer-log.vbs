' Records every line a request sends and receives in a transfer log file, and
' prints it: the first thing to look at when a server answers unexpectedly.
' Usage: cscript //nologo transfer-log.vbs [URL] [LOGFILE]
Option Explicit

Dim url, logFile, conn, fso, stream, failed
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

' A fresh object: Error can only be this request's.
conn.GetURL
failed = conn.Error <> ""
If failed Then WScript.Echo "Failed: " & conn.Error

' The log is written when the object is released, not before.
Set conn = Nothing

' Even a failed request leaves the lines that went out before the failure.
If fso.FileExists(logFile) Then
  WScript.Echo "Transfer log " & logFile & ":"
  Set stream = fso.OpenTextFile(logFile, 1)
  If stream.AtEndOfStream Then WScript.Echo "  (empty: nothing was sent)"
  Do While Not stream.AtEndOfStream
    WScript.Echo "  | " & stream.ReadLine
  Loop
  stream.Close
Else
  WScript.Echo "No transfer log in " & logFile & " (is the folder writable?)"
End If
If failed Then WScript.Quit 1
