Attribute VB_Name = "KivQuickStart"
' Quick start for VBA (Excel, Word, Access...; 32-bit and 64-bit Office alike): import this module
' (File > Import File...), then run KivQuickStart. It needs no reference: the control is made with
' CreateObject. With a reference to "Kiv" (Tools > References) you may declare the objects with
' their own types instead (Dim ctl As Kiv.KivCtl, canvas As Kiv.KivBitmap).
'
' 32-bit Office needs the 32-bit KIVDRAW.OCX registered, 64-bit Office the 64-bit one.
Option Explicit

' ---- begin: the part below runs as VBScript too, without its "As" clauses (the project's tests run it)
Public Function DrawQuickStart(ctl As Object) As Object
    Dim bitmaps As Object, canvas As Object, sprite As Object
    Set bitmaps = ctl.Bitmaps                       ' the control's registry of surfaces

    Set canvas = bitmaps.Create("canvas", 200, 100) ' 200 x 100 pixels; Nothing if it cannot be made
    canvas.BackColor = RGB(255, 255, 255)
    canvas.Cls                                      ' clear to BackColor
    canvas.DrawBox 10, 10, 80, 40, RGB(0, 128, 255) ' left, top, width, height, colour: a filled box
    canvas.DrawLine 0, 99, 199, 0, RGB(255, 0, 0)   ' from (0, 99) towards (199, 0)
    canvas.FontName = "Arial"
    canvas.FontSize = 16                            ' in pixels, not points
    canvas.BPrint 100, 10, "Hello"                  ' in ForeColor on a box of BackColor

    Set sprite = bitmaps.Create("sprite", 32, 32)
    sprite.BackColor = RGB(255, 0, 255)
    sprite.Cls                                      ' magenta all over: the key colour
    sprite.DrawCircle 16, 16, 12                    ' centre and radius
    sprite.TransparentColor = RGB(255, 0, 255)
    sprite.Copy canvas.hDC, 150, 50, True           ' True: magenta pixels leave the canvas as it was
    Set DrawQuickStart = canvas
End Function

' Run from the Immediate window: prints what it made and PASS.
Public Sub CheckQuickStart()
    Dim ctl As Object, canvas As Object
    Set ctl = CreateObject("Kiv.KivCtl")
    Set canvas = DrawQuickStart(ctl)
    Debug.Print "canvas: " & canvas.Width & " x " & canvas.Height & " pixels; surfaces: " & ctl.Bitmaps.Count
    If canvas.Width = 200 And canvas.Height = 100 And ctl.Bitmaps.Count = 2 Then Debug.Print "PASS"
End Sub
' ---- end of the shared part

' Draws the quick start and saves it as a bitmap file. VBA can save a picture (SavePicture, from the
' OLE Automation library that every VBA project refers to); a script cannot.
Public Sub KivQuickStart()
    Dim ctl As Object, canvas As Object, path As String
    Set ctl = CreateObject("Kiv.KivCtl")
    Set canvas = DrawQuickStart(ctl)
    path = Environ$("TEMP") & "\kiv-quickstart.bmp"
    SavePicture canvas.Picture, path
    MsgBox "The picture is in " & path
End Sub
