' Drives Vantoro.Marquel as a server page script would. ASCII only: the script
' host reads code page 1252; non-ASCII text travels in UTF-16 files that the
' Linux side writes and checks. Ends with "N passed, M failed".
Option Explicit

Dim passed, failed, fso, dir
passed = 0
failed = 0
Set fso = CreateObject("Scripting.FileSystemObject")
dir = WScript.Arguments(0)

Sub Check(ok, what)
  If ok Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Function ReadUtf16(name)
  Dim f
  Set f = fso.OpenTextFile(dir & "\" & name, 1, False, -1)
  ReadUtf16 = f.ReadAll
  f.Close
End Function

Sub WriteUtf16(name, text)
  Dim f
  Set f = fso.CreateTextFile(dir & "\" & name, True, True)
  f.Write text
  f.Close
End Sub

Dim o, page, kept, notice, r, c, x
Set o = CreateObject("Vantoro.Marquel")
Check TypeName(o) = "_Marquel" Or TypeName(o) = "Marquel", "TypeName is " & TypeName(o)
Check o.CopyRStr = "", "a fresh object has an empty CopyRStr"

' Lone surrogates must survive the trip through UTF-8 unchanged.
o.CopyRStr = ReadUtf16("lone.txt")
WriteUtf16 "lone.out", o.CopyRStr

notice = ReadUtf16("notice.txt")
o.CopyRStr = notice
Check o.CopyRStr = notice, "CopyRStr reads back what was stored"
WriteUtf16 "copyrstr.out", o.CopyRStr

page = ReadUtf16("page.html")
kept = page

' Without Load (no onstartpage), tags stay as they are.
r = o.Rndstr(page)
Check InStr(r, "<p id=""main"">") > 0, "without Load the tags stay"
Check Left(r, 15) = "<!DOCTYPE html>", "the declaration still comes first"
Check page = kept, "Rndstr leaves the caller's variable"

o.onendpage
o.onstartpage Nothing
r = o.Rndstr(page)
WriteUtf16 "rndstr.out", r
Check Left(r, 17) = "<!DOCTYPE html>" & vbCrLf, "declaration first, then CR LF"
Check InStr(r, "<p id=""main"">") = 0, "tag names get gaps and new casing"
Check InStr(LCase(r), "main") > 0, "attribute values stay"
Check page = kept, "Rndstr leaves the caller's variable after Load"

c = o.RndContent(page)
WriteUtf16 "rndcontent.out", c
Check InStr(c, "display:none;") > 0 Or InStr(LCase(c), "display:none;") > 0, "decoys are hidden"
Check page = kept, "RndContent leaves the caller's variable"
Check IsEmpty(o.RndContent(Null)), "RndContent(Null) is Empty"

On Error Resume Next
x = o.Rndstr()
Check Err.Number = 450, "no argument gives error 450, got " & Err.Number
Err.Clear
x = o.RndChars("1", "")
Check Err.Number = 438, "private RndChars gives error 438, got " & Err.Number
Err.Clear
x = o.Rndstr(o)
Check Err.Number = 13, "an object as page gives error 13, got " & Err.Number
Check Err.Description = "Type mismatch", "description: " & Err.Description
Check Err.Source = "Vantoro.Marquel", "source: " & Err.Source
Err.Clear
o.onendpage
o.onendpage
Check Err.Number = 0, "onendpage any time"
o.Load
o.Load
Check Err.Number = 0, "Load twice"
On Error GoTo 0

WScript.Echo passed & " passed, " & failed & " failed"
