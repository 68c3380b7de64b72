' Quick start: the control, a surface, some drawing, a transparent copy and a picture.
'     cscript //nologo quickstart.vbs
Option Explicit
Dim ctl, bitmaps, canvas, sprite, pic

Set ctl = CreateObject("Kiv.KivCtl")            ' on a form, use the KivCtl placed there instead
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

Set pic = canvas.Picture                        ' an OLE picture: a copy of the pixels as they are now
WScript.Echo "canvas: " & canvas.Width & " x " & canvas.Height & " pixels; surfaces: " & bitmaps.Count & _
             "; picture type: " & pic.Type
If canvas.Width = 200 And bitmaps.Count = 2 And pic.Type = 1 Then WScript.Echo "PASS"
