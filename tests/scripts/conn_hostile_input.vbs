' What a VBScript page can throw at Kestrel.Conn: empty, 1 MB, NUL-holding
' and non-ASCII texts, Null, Empty, objects, arrays and extreme numbers for
' every writable property and every method that takes a text. Each either
' works or raises an error the script can read; the object keeps answering,
' a URL with a line break is refused, header values that would add request
' lines are refused by GetURL, and a fetch still works afterwards.
Option Explicit

Dim failures
failures = 0

Sub Check(name, condition, detail)
  If condition Then
    WScript.Echo "PASS " & name
  Else
    WScript.Echo "FAIL " & name & ": " & detail
    failures = failures + 1
  End If
End Sub

Sub CheckEqual(name, actual, expected)
  Check name, actual = expected, "got [" & actual & "], expected [" & expected & "]"
End Sub

Dim env, scenarioBase
Set env = CreateObject("WScript.Shell").Environment("PROCESS")
scenarioBase = "http://127.0.0.1:" & env("KESTREL_SCENARIO_PORT") & "/"

Dim conn
Set conn = CreateObject("Kestrel.Conn")

' Assigns or passes one value; leaves the error number and text behind.
Dim errNumber, errDescription
Sub Try(member, value)
  Dim ignored
  On Error Resume Next
  Select Case member
    Case "Protocol": conn.Protocol = value
    Case "URL": conn.URL = value
    Case "Proxy": conn.Proxy = value
    Case "PostData": conn.PostData = value
    Case "Accept": conn.Accept = value
    Case "UserAgent": conn.UserAgent = value
    Case "RequestMethod": conn.RequestMethod = value
    Case "ContentType": conn.ContentType = value
    Case "SaveFileTo": conn.SaveFileTo = value
    Case "Authorization": conn.Authorization = value
    Case "HTTPLog": conn.HTTPLog = value
    Case "ProxyPassword": conn.ProxyPassword = value
    Case "Port": conn.Port = value
    Case "TimeOut": conn.TimeOut = value
    Case "FollowRedirects": conn.FollowRedirects = value
    Case "AddExtraHeader": conn.AddExtraHeader value
    Case "URLEncode": ignored = conn.URLEncode(value)
    Case "URLDecode": ignored = conn.URLDecode(value)
    Case "GetHeader": ignored = conn.GetHeader(value)
  End Select
  errNumber = Err.Number
  errDescription = Err.Description
  Err.Clear
End Sub

Dim values(12), labels(12), i
values(0) = "": labels(0) = "empty"
values(1) = String(1048576, "x"): labels(1) = "1 MB"
' (Wine's VBScript has no ChrW: text outside the code page is tried from C++.)
values(2) = "a" & Chr(0) & "b" & Chr(0): labels(2) = "NUL-holding"
values(3) = Chr(233) & Chr(128) & Chr(255): labels(3) = "non-ASCII"
values(4) = Null: labels(4) = "Null"
values(5) = Empty: labels(5) = "Empty"
values(6) = Array(1, "two"): labels(6) = "an array"
values(7) = -1: labels(7) = "-1"
values(8) = 2147483647: labels(8) = "2^31-1"
values(9) = 1E+300: labels(9) = "1E+300"
values(10) = -2147483648: labels(10) = "-2^31 (a Double here)"
values(11) = True: labels(11) = "True"
values(12) = "a" & vbCrLf & "Injected: 1": labels(12) = "line breaks"

Dim members, member, problems
members = Array("Protocol", "URL", "Proxy", "PostData", "Accept", "UserAgent", "RequestMethod", _
                "ContentType", "SaveFileTo", "Authorization", "HTTPLog", "ProxyPassword", "Port", _
                "TimeOut", "FollowRedirects", "AddExtraHeader", "URLEncode", "URLDecode", "GetHeader")
For Each member In members
  problems = ""
  For i = 0 To UBound(values)
    Try member, values(i)
    ' An error must say what it is: a number, and a text unless it is the
    ' engine's own conversion error.
    If errNumber <> 0 And errDescription = "" And errNumber <> 13 And errNumber <> 6 Then
      problems = problems & " " & labels(i) & " (error " & errNumber & " without text)"
    End If
  Next
  Try member, conn   ' the object itself
  Check "hostile values: " & member, problems = "" And conn.Version = "3.50", problems
Next

' The refused URLs, and the properties back to values a fetch can use.
Try "URL", "http://127.0.0.1/a" & vbCrLf & "X-Injected: 1"
CheckEqual "URL with CR LF refused", errDescription, "Invalid URL"
Try "URL", "http://127.0.0.1/a" & vbLf & "b"
CheckEqual "URL with LF refused", errDescription, "Invalid URL"
Try "URL", "http://127.0.0.1/a" & Chr(0) & "b"
CheckEqual "URL with NUL refused", errDescription, "Invalid URL"

conn.Protocol = "": conn.Proxy = "": conn.PostData = "": conn.Accept = "*/*": conn.UserAgent = ""
conn.RequestMethod = "GET": conn.ContentType = "": conn.SaveFileTo = "": conn.Authorization = ""
conn.HTTPLog = "": conn.ProxyPassword = "": conn.Port = 80: conn.FollowRedirects = True
conn.ClearExtraHeaders

' Header values that would add request lines: GetURL refuses them before it
' connects (nothing listens on port 1, so a connection would fail otherwise),
' and the property keeps what the script set.
Sub CheckRefused(label, member, value)
  Dim result, kept
  conn.URL = "http://127.0.0.1:1/echo"
  Try member, value
  result = conn.GetURL
  Select Case member
    Case "RequestMethod": kept = conn.RequestMethod
    Case "Protocol": kept = conn.Protocol
    Case "UserAgent": kept = conn.UserAgent
    Case "Accept": kept = conn.Accept
    Case "ContentType": kept = conn.ContentType
    Case "AddExtraHeader": kept = conn.ExtraHeaders
  End Select
  If member = "AddExtraHeader" Then value = value & vbCrLf
  Check "refused: " & label, conn.Error = "Invalid request header value in " & member And result = "" _
    And kept = value, "Error [" & conn.Error & "], result [" & result & "], value now [" & kept & "]"
  conn.RequestMethod = "GET": conn.Protocol = "": conn.UserAgent = "": conn.Accept = "*/*"
  conn.ContentType = "": conn.ClearExtraHeaders
End Sub

conn.TimeOut = 10
CheckRefused "RequestMethod with CR LF", "RequestMethod", "GET /a HTTP/1.0" & vbCrLf & "X-Injected: 1" & vbCrLf
CheckRefused "Protocol with LF", "Protocol", "HTTP/1.0" & vbLf & "X-Injected: 1"
CheckRefused "UserAgent with CR LF inside", "UserAgent", "UA" & vbCrLf & "X-Injected: 1"
CheckRefused "UserAgent with NUL inside", "UserAgent", "UA" & Chr(0) & "X"
CheckRefused "Accept with CR", "Accept", "text/html" & vbCr & "X-Injected: 1"
CheckRefused "ContentType with CR LF", "ContentType", "text/plain" & vbCrLf & "x-injected: 1"
CheckRefused "AddExtraHeader with a blank line", "AddExtraHeader", "X-A: 1" & vbCrLf & vbCrLf & "GET /smuggled HTTP/1.0"
CheckRefused "AddExtraHeader ending in CR LF", "AddExtraHeader", "X-A: 1" & vbCrLf
CheckRefused "AddExtraHeader with NUL", "AddExtraHeader", "X-A: 1" & Chr(0) & "X-B: 2"

' Several lines in one call stay allowed, and the object works again.
conn.URL = scenarioBase & "echo"
conn.UserAgent = "UA" & vbCrLf   ' sent trimmed
conn.AddExtraHeader "X-A: 1" & vbCrLf & "X-B: 2"
CheckEqual "several extra lines in one call", conn.GetURL, "GET /echo HTTP/1.0" & vbCrLf & "User-Agent: UA" & vbCrLf & _
  "Host: 127.0.0.1:" & env("KESTREL_SCENARIO_PORT") & vbCrLf & "Accept: */*" & vbCrLf & "X-A: 1" & vbCrLf & "X-B: 2" & vbCrLf & vbCrLf
conn.UserAgent = "": conn.ClearExtraHeaders

conn.TimeOut = -1
conn.URL = scenarioBase & "s/tcp-silent"
CheckEqual "TimeOut -1 ends at the first tick", conn.GetURL, ""
CheckEqual "TimeOut -1 error", conn.Error, "Operation timed out"

conn.TimeOut = 10
conn.URL = scenarioBase & "s/hello"
CheckEqual "fetch after hostile input", conn.GetURL, "Hello from the scenario server." & vbCrLf

Set conn = Nothing
WScript.Echo "DONE"
