' A script client's view of errors and arguments: an overflow as error 6, by-reference parameters given
' as script variables, omitted optional parameters, object results and Nothing.
Option Explicit
On Error Resume Next
Dim failures : failures = 0
Sub Check(condition, what)
    If Not condition Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub
' The error of the step just taken, cleared for the next.
Function Took(what)
    If Err.Number <> 0 Then
        WScript.Echo "FAIL: " & what & " raised " & Err.Number & " " & Err.Description
        failures = failures + 1
        Took = False
    Else
        Took = True
    End If
    Err.Clear
End Function

Dim ctl, bmps, bmp, other, pic, wide, n, x, y, w, h, r, target, missing
Set ctl = CreateObject("Kiv.KivCtl")
Took "CreateObject"
Set bmps = ctl.Bitmaps
Set bmp = bmps.Create("errors", 32, 16)
Took "Create"
Check Not bmp Is Nothing, "Create gives a surface"

' 70000 does not fit a 16-bit parameter: the runtime's overflow, and nothing else changes.
bmp.DrawBox 70000, 0, 5, 5
Check Err.Number = 6, "DrawBox with 70000 raises error 6, not " & Err.Number
Check InStr(1, Err.Description, "Overflow", vbTextCompare) > 0, "the error says Overflow: " & Err.Description
Err.Clear
Check bmp.Width = 32, "the surface is unchanged after the overflow"
Took "Width after the overflow"

' By-reference parameters given as script variables, which arrive as by-reference VARIANTs.
x = 4 : y = 5 : w = CLng(6) : h = 7 : r = 3
bmp.DrawBox x, y, w, h
Took "DrawBox with variables"
bmp.DrawCircle x, y, r
Took "DrawCircle with variables"
Check x = 4 And y = 5 And w = 6 And h = 7 And r = 3, "the variables keep their values"
Check TypeName(x) = "Integer" And TypeName(w) = "Long", "the variables keep their types: " & TypeName(x) & " " & TypeName(w)
n = 1
Check bmps.ItemInt(n) Is bmp, "ItemInt with a variable"
Took "ItemInt with a variable"

' Omitted optional parameters.
bmp.DrawLine 0, 0, 10, 10
Took "DrawLine without Color"
' A colour of -1 (an Integer to the script) is the foreground colour, not an overflow.
bmp.DrawLine 0, 1, 9, 1, -1
Took "DrawLine with Color -1"
Set other = bmps.Create("target", 40, 20)
target = other.hDC
bmp.Copy target, 1, 2
Took "Copy without Transparent"
bmp.Copy target, 1, 2, True
Took "Copy with Transparent"

' The picture: an object whose size is in HIMETRIC.
Set pic = bmp.Picture
Took "Picture"
Check IsObject(pic), "Picture gives an object"
Check pic.Width > 0, "the picture's Width is positive"
Check pic.Height > 0, "the picture's Height is positive"
Set wide = other.Picture
Check wide.Width > pic.Width, "a wider surface gives a wider picture"
Took "Width of the pictures"

' Nothing where nothing is found.
Check bmps.ItemInt(0) Is Nothing, "ItemInt(0) is Nothing"
Check bmps.ItemTxt("no such name") Is Nothing, "ItemTxt of an unknown name is Nothing"
Took "ItemInt and ItemTxt"

' A member that does not exist is the runtime's error, not silence.
bmp.NoSuchMember
Check Err.Number = 438, "an unknown member raises 438, not " & Err.Number
Err.Clear

bmps.Clear
Set bmp = Nothing : Set other = Nothing : Set bmps = Nothing : Set ctl = Nothing
Took "releasing"
If failures = 0 Then WScript.Echo "PASS"
