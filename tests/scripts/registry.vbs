' A script client of the registry and its surfaces, called by name. Every by-reference parameter is
' given once as a literal and once as a script variable. Prints "FAIL: ..." per failed check and
' "PASS" last when all held.
Option Explicit
On Error Resume Next

Dim failures : failures = 0
Dim lastCheck : lastCheck = "the start"

' An error raised between two checks skips the statement that raised it: the next check reports it.
Sub Check(condition, what)
    If Err.Number <> 0 Then
        WScript.Echo "FAIL: error " & Err.Number & " (" & Err.Description & ") after '" & lastCheck & "'"
        failures = failures + 1
        Err.Clear
    End If
    If Not condition Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
    lastCheck = what
End Sub

Dim ctl, bmps, bmp, a, b, c, w, h, n, i, k, color, before
Set ctl = CreateObject("Kiv.KivCtl")
Check IsObject(ctl), "the control is made by its ProgID"
Set bmps = ctl.Bitmaps
Check Not bmps Is Nothing, "Bitmaps gives the registry"

' An empty registry answers Nothing and does nothing.
Check bmps.Count = 0, "a new registry is empty"
Check bmps.ItemInt(1) Is Nothing, "ItemInt(1) of an empty registry"
Check bmps.ItemTxt("a") Is Nothing, "ItemTxt of an empty registry"
bmps.RemoveInt 1
bmps.Clear
Check bmps.Count = 0, "RemoveInt and Clear on an empty registry"

' Create with literals and with variables; Create returns what ItemInt(Count) gives.
Set a = bmps.Create("a", 16, 8)
Check Not a Is Nothing, "Create with literals"
Check a.Width = 16 And a.Height = 8, "the size given as literals"
Check bmps.Count = 1, "one entry"
Check bmps.ItemInt(bmps.Count) Is a, "Create returns the listed surface"
n = "b" : w = 20 : h = 10
Set b = bmps.Create(n, w, h)
Check Not b Is Nothing, "Create with variables"
Check b.Width = 20 And b.Height = 10, "the size given as variables"
Check n = "b" And w = 20 And h = 10, "Create leaves its arguments as they were"
Check bmps.ItemInt(bmps.Count) Is b, "the second surface is listed last"
Set c = bmps.Create("a", 3, 4)
Check bmps.Count = 3, "three entries"

' Finding by position and by name.
i = 2
Check bmps.ItemInt(i) Is b, "ItemInt with a variable"
Check bmps.ItemInt(1) Is a, "ItemInt with a literal"
Check bmps.ItemTxt(n) Is b, "ItemTxt with a variable"
Check bmps.ItemTxt("a") Is a, "ItemTxt gives the first of two equal names"
Check bmps.ItemTxt("A") Is Nothing, "ItemTxt is case-sensitive"
Check bmps.ItemTxt("") Is Nothing, "no surface has an empty name"
Check bmps.ItemInt(0) Is Nothing, "ItemInt(0)"
Check bmps.ItemInt(-1) Is Nothing, "ItemInt(-1)"
Check bmps.ItemInt(bmps.Count + 1) Is Nothing, "ItemInt past the end"

' Removing by position closes the gap.
bmps.RemoveInt 1
Check bmps.Count = 2, "RemoveInt with a literal"
Check bmps.ItemInt(1) Is b And bmps.ItemInt(2) Is c, "the rest keep their order"
Check bmps.ItemTxt("a") Is c, "the later of two equal names once the earlier is gone"
Check a.Width = 16, "a removed surface that the script holds stays usable"
i = 5
bmps.RemoveInt i
i = 0
bmps.RemoveInt i
Check bmps.Count = 2, "RemoveInt outside the list does nothing"
i = 2
bmps.RemoveInt i
Check bmps.Count = 1 And bmps.ItemInt(1) Is b, "RemoveInt with a variable"
Check i = 2, "RemoveInt leaves its argument as it was"

' Colours: ForeColor and BackColor keep what was given, TransparentColor keeps the translation.
Check b.ForeColor = 0, "ForeColor starts black"
Check b.BackColor = &H8000000F, "BackColor starts as the button face"
Check b.TransparentColor = 0, "TransparentColor starts black"
b.ForeColor = &H8000000F
Check b.ForeColor = &H8000000F, "ForeColor keeps a system colour"
b.BackColor = RGB(1, 2, 3)
Check b.BackColor = RGB(1, 2, 3), "BackColor keeps an RGB value"
b.BackColor = &H80000008
Check b.BackColor = &H80000008, "BackColor keeps a system colour"
b.TransparentColor = RGB(10, 20, 30)
Check b.TransparentColor = RGB(10, 20, 30), "TransparentColor from a literal RGB value"
color = &H8000000F
b.TransparentColor = color
Check color = &H8000000F, "TransparentColor leaves the script's variable as it was"
k = b.TransparentColor
Check k <> &H8000000F And k >= 0 And k <= &HFFFFFF, "TransparentColor keeps a system colour as its RGB value"
color = &H80000099
b.TransparentColor = color
Check b.TransparentColor = -1, "TransparentColor of an unknown system colour is -1"
b.TransparentColor = 0
Check b.TransparentColor = 0, "TransparentColor back to black"
b.Cls
Check b.hDC <> 0 And b.hBMP <> 0, "the surface has its handles"

' Sizes that the platform refuses give Nothing and list nothing.
before = bmps.Count
Set bmp = bmps.Create("x", 32767, 32767)
Check bmp Is Nothing, "Create of 32767 x 32767 pixels is Nothing"
Check bmps.Count = before, "a refused Create lists nothing"
' A negative width goes to the platform as it is: either nothing is made, or the surface has it.
Set bmp = bmps.Create("x", -1, 5)
If bmp Is Nothing Then
    Check bmps.Count = before, "a refused negative width lists nothing"
Else
    Check bmps.Count = before + 1 And bmp.Width = -1 And bmp.Height = 5, "a negative width is kept as given"
End If

' Clear while the script holds a surface.
bmps.Clear
Check bmps.Count = 0, "Clear empties the registry"
Check bmps.ItemInt(1) Is Nothing, "nothing listed after Clear"
b.BackColor = RGB(0, 0, 255)
b.Cls
Check b.Width = 20 And b.hDC <> 0, "a held surface stays usable after Clear"

' The control goes while the script holds its registry and a surface.
Set a = bmps.Create("after", 4, 4)
Set ctl = Nothing
Check bmps.Count = 0, "the control's end empties its registry"
a.Cls
Check a.hDC <> 0 And a.Width = 4, "a held surface stays usable after the control's end"
Set c = bmps.Create("later", 5, 6)
Check Not c Is Nothing, "the registry still makes surfaces"
Check bmps.Count = 1 And c.Height = 6, "and lists them"

Check True, "the end"
If failures = 0 Then WScript.Echo "PASS"
