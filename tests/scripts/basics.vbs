' Kestrel.Conn from VBScript: creation, Version, URL encoding and decoding,
' and a failing member reported through Err.
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

Dim conn
Set conn = CreateObject("Kestrel.Conn")
Check "create", IsObject(conn), "CreateObject gave no object"
' The class's default interface names the object.
CheckEqual "typename", TypeName(conn), "IConn2"

CheckEqual "version", conn.Version, "3.50"
CheckEqual "version again", conn.Version, "3.50"

CheckEqual "encode blank and ampersand", conn.URLEncode("a b&c"), "a+b%26c"
CheckEqual "encode reserved characters", conn.URLEncode("x/y~z!"), "x%2Fy%7Ez%21"
CheckEqual "encode percent", conn.URLEncode("50%"), "50%25"
CheckEqual "encode safe characters", conn.URLEncode("AZaz09*-.@_"), "AZaz09*-.@_"
CheckEqual "encode empty", conn.URLEncode(""), ""
CheckEqual "encode number", conn.URLEncode(-42), "-42"
CheckEqual "encode latin letter", conn.URLEncode(Chr(233)), "%E9"

CheckEqual "decode", conn.URLDecode("a+b%26c"), "a b&c"
CheckEqual "decode double percent", conn.URLDecode("100%%"), "100%"
CheckEqual "decode lower-case hex", conn.URLDecode("%e9"), Chr(233)
CheckEqual "decode empty", conn.URLDecode(""), ""
CheckEqual "round trip", conn.URLDecode(conn.URLEncode("Tom & Jerry / 100% ?")), "Tom & Jerry / 100% ?"

' A bad escape: a COM error carrying the conversion message, and no value.
Dim result
result = "untouched"
On Error Resume Next
result = conn.URLDecode("ab%zz")
Dim number, description, source
number = Err.Number
description = Err.Description
source = Err.Source
Err.Clear
On Error GoTo 0
CheckEqual "bad escape number", Hex(number), "8000FFFF"
CheckEqual "bad escape description", description, "'$zz' is not a valid integer value"
CheckEqual "bad escape source", source, "Kestrel.Conn"
CheckEqual "bad escape leaves no value", result, "untouched"

' The object goes on working after the failure.
CheckEqual "encode after failure", conn.URLEncode("a b"), "a+b"

' Objects are independent.
Dim other
Set other = CreateObject("Kestrel.Conn")
CheckEqual "second object", other.Version, "3.50"
Set other = Nothing
Set conn = Nothing

WScript.Echo "DONE"
