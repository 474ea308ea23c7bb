' Non-text arguments, passed the way page scripts pass them, must come out as
' the portable component turns them into text (ToText in
' src/component/conversions.cpp, and tests/component_test.cpp,
' tests/dispatch_test.cpp): integers and doubles as their decimal text,
' Booleans as "True"/"False", Empty as "", Null as error 94 where text is
' needed, objects as error 13. Dates and currency have no portable type: they
' must read as the script host itself writes them (CStr, same locale).
' ASCII only. Ends with "N passed, M failed".
Option Explicit

Dim passed, failed, o
passed = 0
failed = 0

Sub Check(ok, what)
  If ok Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

' The page text after Rndstr's watermark, whose last comment ends in CR LF.
Function PageText(r)
  Dim at
  PageText = "(no watermark)"
  If VarType(r) <> vbString Then Exit Function
  at = InStrRev(r, "-->" & vbCrLf)
  If at > 0 Then PageText = Mid(r, at + 5)
End Function

Function Shown(v)
  If IsNull(v) Then
    Shown = "Null"
  ElseIf IsEmpty(v) Then
    Shown = "Empty"
  Else
    Shown = "[" & v & "]"
  End If
End Function

' CopyRStr (stored, then read back), Rndstr (by reference and by value) and
' RndContent must all give `text` for the value v of variant type vt.
Sub Expect(label, v, vt, text)
  Dim r
  Check VarType(v) = vt, label & ": the script passes type " & VarType(v) & ", meant " & vt
  On Error Resume Next
  o.CopyRStr = "before"
  o.CopyRStr = v
  Check Err.Number = 0, label & ": CopyRStr = v raised " & Err.Number & " " & Err.Description
  Err.Clear
  r = o.CopyRStr
  Check r = text, label & ": CopyRStr reads " & Shown(r) & ", expected [" & text & "]"
  r = Null
  r = o.Rndstr(v)
  Check Err.Number = 0, label & ": Rndstr raised " & Err.Number & " " & Err.Description
  Err.Clear
  Check PageText(r) = text, label & ": Rndstr gives page " & Shown(PageText(r)) & ", expected [" & text & "]"
  r = Null
  r = o.Rndstr((v))
  Check Err.Number = 0, label & ": Rndstr by value raised " & Err.Number & " " & Err.Description
  Err.Clear
  Check PageText(r) = text, label & ": Rndstr by value gives page " & Shown(PageText(r))
  r = Null
  r = o.RndContent(v)
  Check Err.Number = 0, label & ": RndContent raised " & Err.Number & " " & Err.Description
  Err.Clear
  Check VarType(r) = vbString, label & ": RndContent gives type " & VarType(r)
  Check r = text, label & ": RndContent gives " & Shown(r) & ", expected [" & text & "]"
End Sub

' For doubles whose shortest decimal text is not the script host's (digits
' beyond 15, exponents): whatever the text is, every member must agree on it.
Sub SameEverywhere(label, v)
  Dim stored, page, content
  On Error Resume Next
  o.CopyRStr = v
  stored = o.CopyRStr
  page = PageText(o.Rndstr(v))
  content = o.RndContent(v)
  Check Err.Number = 0, label & ": raised " & Err.Number & " " & Err.Description
  Err.Clear
  Check stored = page And page = content, label & ": CopyRStr " & Shown(stored) & _
    ", Rndstr " & Shown(page) & ", RndContent " & Shown(content)
End Sub

' The error just raised must be the component's script error `number`.
Sub ExpectError(label, number, description)
  Check Err.Number = number, label & ": error " & Err.Number & " " & Err.Description & ", expected " & number
  Check Err.Description = description, label & ": description " & Err.Description
  Check Err.Source = "Vantoro.Marquel", label & ": source " & Err.Source
  Err.Clear
End Sub

Set o = CreateObject("Vantoro.Marquel")
o.Load

Expect "16-bit integer", CInt(-7), vbInteger, "-7"
Expect "16-bit maximum", CInt(32767), vbInteger, "32767"
Expect "32-bit integer", CLng(2147483647), vbLong, "2147483647"
Expect "32-bit minimum", CLng("-2147483648"), vbLong, "-2147483648"
Expect "byte", CByte(200), vbByte, "200"
Expect "double", CDbl(2.5), vbDouble, "2.5"
Expect "whole double", CDbl(3), vbDouble, "3"
Expect "negative double", CDbl(-0.5), vbDouble, "-0.5"
Expect "single", CSng(0.1), vbSingle, "0.1"
Expect "True", True, vbBoolean, "True"
Expect "False", False, vbBoolean, "False"
Expect "Empty", Empty, vbEmpty, ""
Expect "currency", CCur(1.5), vbCurrency, CStr(CCur(1.5))
Expect "currency, four places", CCur("-12.3456"), vbCurrency, CStr(CCur("-12.3456"))
Expect "date", CDate("2003-01-02"), vbDate, CStr(CDate("2003-01-02"))
Expect "date and time", CDate("2003-01-02 13:04:05"), vbDate, CStr(CDate("2003-01-02 13:04:05"))
Expect "time", CDate("13:04:05"), vbDate, CStr(CDate("13:04:05"))
SameEverywhere "a third", CDbl(1) / 3
SameEverywhere "large double", CDbl("1E+20")
SameEverywhere "small double", CDbl("0.0001")

Dim r
On Error Resume Next
' Null: no text to store (94, nothing changes); a null page is the empty page;
' a null article gives Empty.
o.CopyRStr = "before"
o.CopyRStr = Null
ExpectError "CopyRStr = Null", 94, "Invalid use of Null"
Check o.CopyRStr = "before", "a failed CopyRStr keeps the old text, got " & Shown(o.CopyRStr)
r = o.Rndstr(Null)
Check Err.Number = 0, "Rndstr(Null) raised " & Err.Number
Err.Clear
Check PageText(r) = "", "Rndstr(Null) gives page " & Shown(PageText(r))
r = o.RndContent(Null)
Check Err.Number = 0, "RndContent(Null) raised " & Err.Number
Err.Clear
Check IsEmpty(r), "RndContent(Null) gives " & Shown(r)
' Objects, Nothing included, have no text: 13.
r = o.Rndstr(Nothing)
ExpectError "Rndstr(Nothing)", 13, "Type mismatch"
r = o.RndContent(Nothing)
ExpectError "RndContent(Nothing)", 13, "Type mismatch"
r = o.RndContent(o)
ExpectError "RndContent(object)", 13, "Type mismatch"
On Error GoTo 0

WScript.Echo passed & " passed, " & failed & " failed"
